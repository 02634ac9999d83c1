// The daemon binary as a process: command line, configuration, detaching, pid file and stop.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <csignal>
#include <functional>
#include <memory>
#include <regex>
#include <string>

#include "monitorTestUtil.h"
#include "pcuSimulator.h"
#include "processRunner.h"
#include "runner.h"
#include "shmSegment.h"

using namespace montest;

namespace {

const char* const USAGE =
    "pcuMonitorServer [OPTIONS]\n"
    "Опции программы : \n"
    " -c,--config <filename>  Использовать файл конфигурации filename\n"
    "                         если не указан то используется файл config.js\n"
    "                         из текущего каталога\n"
    "\n"
    " -p,--pid  <filename>    pid файл (полный путь до файла)\n"
    " -H,--host <host>        Подключаться к указанному серверу (по умолчанию localhost)\n"
    " -P,--port <portnum>     Использовать номер порта для сервера (по умолчанию 65521)\n"
    " -t,--check-config       Проверить файл конфигурации и выйти: каждый неизвестный ключ,\n"
    "                         значение не того типа или вне допустимого одной строкой;\n"
    "                         код 1, когда есть ошибки, иначе 0\n"
    "    --version            Показать версию и выйти\n"
    " -h,--help               Показать эту справочную информацию и выйти\n"
    "\n";

TEST(DaemonCommandLine, HelpPrintsUsageAndSucceeds)
{
    processResult r = runProcess({daemonBinary(), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, USAGE);
    EXPECT_EQ(runProcess({daemonBinary(), "-h"}).out, USAGE);
}

TEST(DaemonCommandLine, UnknownOptionsEndWithStatus1)
{
    tempDir dir;
    writeFile(dir.file("config.js"), "{}");
    EXPECT_EQ(runProcess({daemonBinary(), "-x"}, dir.path).status, 1);
    processResult r = runProcess({daemonBinary(), "-p", dir.file("x.pid")}, dir.path);
    EXPECT_EQ(r.status, 1) << "--pid has no short form";
    EXPECT_NE(r.err.find("'p'"), std::string::npos) << r.err;
    EXPECT_EQ(runProcess({daemonBinary(), "--config"}, dir.path).status, 1) << "missing argument";
    EXPECT_EQ(runProcess({daemonBinary(), "-P", "70000"}, dir.path).status, 1) << "not a port";
}

TEST(DaemonConfiguration, MissingFilesAndBadJson)
{
    tempDir dir;
    processResult r = runProcess({daemonBinary()}, dir.path);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Файл конфигурации не найден\n");

    r = runProcess({daemonBinary(), "--config", dir.file("none.json")}, dir.path);
    EXPECT_EQ(r.status, 22);
    EXPECT_EQ(r.err, "Файл конфигурации не задан\n");

    writeFile(dir.file("bad.json"), "{ \"fuelweb\": { \"mon_port\": 1, }");
    r = runProcess({daemonBinary(), "-c", dir.file("bad.json")}, dir.path);
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(
        r.err.rfind("Ошибка загрузки файла конфигурации: " + dir.file("bad.json") + ": ошибка в JSON", 0), 0u)
        << r.err;
}

TEST(DaemonConfiguration, RunningInstanceIsRefused)
{
    tempDir dir;
    writeFile(dir.file("config.js"), "{\"fuelweb\": {\"run_path\": \"" + dir.path + "\"}}");
    const std::string me = std::to_string(::getpid());
    writeFile(dir.file("pcuMonitorServer.pid"), me);
    processResult r = runProcess({daemonBinary()}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Уже существует запущенный экземпляр демона с процессом " + me + "\n");
    EXPECT_EQ(readFile(dir.file("pcuMonitorServer.pid")), me);
}

// Full starts: the test process adopts the detached daemon (child subreaper), so that it can wait
// for the daemon's own exit status.
class DaemonRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
        sim::stationConfig cfg = sim::defaultStation();
        cfg.repeatMs = 0;
        cfg.autoDriverTicks = 0;
        pcu = std::make_unique<sim::pcuSimulator>(cfg);
        ASSERT_EQ(pcu->start(), 0);
        seg.setIpcPath(dir.file("trkstat.mem"));
    }
    void TearDown() override
    {
        if (daemonPid > 0 && ::kill(daemonPid, SIGKILL) == 0) waitDaemon();
        seg.shmStop();
        tempKeyFile::removeSegment(dir.file("trkstat.mem"));
    }

    // A configuration whose host and port lead nowhere: the command line has to override them.
    void writeConfig(const std::string& tmpPath)
    {
        writeFile(dir.file("cfg.json"),
                  "{\"fuelweb\": {\"ctl_addr\": \"no-such-host.invalid\", \"mon_port\": 1,"
                  " \"tmp_path\": \"" +
                      tmpPath + "\", \"run_path\": \"" + dir.path + "\", \"log_path\": \"" + dir.path +
                      "\"}}");
    }
    processResult start()
    {
        processResult r = runProcess({daemonBinary(), "--config", dir.file("cfg.json"), "-H", "127.0.0.1",
                                      "-P", std::to_string(pcu->monPort())});
        daemonPid = static_cast<pid_t>(std::atoi(readFile(pidPath()).c_str()));
        return r;
    }
    // Exit status of the adopted daemon; -1 when it did not end within about 3 s.
    int waitDaemon()
    {
        for (int i = 0; i < 300; ++i) {
            int st = 0;
            if (::waitpid(daemonPid, &st, WNOHANG) == daemonPid) {
                daemonPid = 0;
                return decodeStatus(st);
            }
            ::usleep(10000);
        }
        return -1;
    }
    bool waitFor(const std::function<bool()>& cond) { return pcu->waitFor(cond, 3000); }
    std::string pidPath() const { return dir.file("pcuMonitorServer.pid"); }
    std::string logText() const { return readFile(dir.file("pcuMonitorServer.log")); }

    tempDir dir;
    std::unique_ptr<sim::pcuSimulator> pcu;
    pcudata::shmSegment seg;
    pid_t daemonPid = 0;
};

TEST_F(DaemonRun, DetachesPublishesAndStopsOnSigterm)
{
    writeConfig(dir.path);
    writeFile(pidPath(), "2147483647");  // a pid that cannot run: the stale file is replaced
    processResult r = start();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    ASSERT_GT(daemonPid, 1);
    EXPECT_NE(daemonPid, 2147483647);
    struct stat st = {};
    ASSERT_EQ(::stat(pidPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    ASSERT_TRUE(waitFor([&] { return logText().find("установлено") != std::string::npos; })) << logText();
    ASSERT_EQ(seg.shmInit(), 0);
    ASSERT_TRUE(waitFor([&] { return seg.getTrkState(4)->trk == 4 && seg.getPcuStatus()->dataTime > 0; }));
    EXPECT_EQ(seg.getTrkState(1)->status, pcu->status(1));
    EXPECT_NE(logText().find("): Демон инициализирован с PID=" + std::to_string(daemonPid) + "\n"),
              std::string::npos)
        << logText();

    ASSERT_EQ(::kill(daemonPid, SIGTERM), 0);
    EXPECT_EQ(waitDaemon(), 0);
    EXPECT_EQ(seg.getPcuStatus()->dataTime, 0);
    const std::regex stopLine(R"(\(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\): Остановка демона по сигналу : 15\n)");
    EXPECT_TRUE(std::regex_search(logText(), stopLine)) << logText();
    EXPECT_EQ(readFile(dir.file("pcuMonitorServer.err")), "");
}

// The daemon works from "/" once detached; relative paths still name the starting directory.
TEST_F(DaemonRun, RelativePathsKeepNamingTheStartingDirectory)
{
    writeFile(dir.file("cfg.json"),
              "{\"fuelweb\": {\"tmp_path\": \".\", \"run_path\": \".\", \"log_path\": \".\"}}");
    processResult r = runProcess(
        {daemonBinary(), "--config", "cfg.json", "-H", "127.0.0.1", "-P", std::to_string(pcu->monPort())},
        dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    daemonPid = static_cast<pid_t>(std::atoi(readFile(pidPath()).c_str()));
    ASSERT_GT(daemonPid, 1);
    ASSERT_EQ(seg.shmInit(), 0);
    EXPECT_TRUE(waitFor([&] { return seg.getTrkState(1)->trk == 1; })) << "published into our key file";
    EXPECT_TRUE(waitFor([&] { return logText().find("установлено") != std::string::npos; }));
    ASSERT_EQ(::kill(daemonPid, SIGTERM), 0);
    EXPECT_EQ(waitDaemon(), 0);
}

TEST_F(DaemonRun, Sigusr1RewritesThePidFileAndEnds)
{
    writeConfig(dir.path);
    ASSERT_EQ(start().status, 0);
    ASSERT_GT(daemonPid, 1);
    ASSERT_EQ(seg.shmInit(), 0);
    ASSERT_TRUE(waitFor([&] { return seg.getPcuStatus()->dataTime > 0; }));
    const pid_t pid = daemonPid;
    ASSERT_EQ(::unlink(pidPath().c_str()), 0);
    ASSERT_EQ(::kill(pid, SIGUSR1), 0);
    EXPECT_EQ(waitDaemon(), 0);
    EXPECT_EQ(readFile(pidPath()), std::to_string(pid));
    EXPECT_EQ(seg.getPcuStatus()->dataTime, 0) << "a daemon that ends leaves no live-looking dataTime";
}

// A daemon that can not attach the segment must not count as started: the starting command ends
// with the daemon's 14 and shows why, and no pid file claims a running instance.
TEST_F(DaemonRun, SegmentFailureEndsTheStartingCommandWith14)
{
    writeConfig(dir.file("missing-dir"));  // the key file can not be created there
    processResult r = start();
    EXPECT_EQ(r.status, 14) << r.err;
    EXPECT_EQ(daemonPid, 0);
    EXPECT_FALSE(pcudata::runner::FileExists(pidPath()));
    const std::string keyFile = dir.file("missing-dir") + "/trkstat.mem";
    for (const std::string& text : {r.err, readFile(dir.file("pcuMonitorServer.err"))}) {
        EXPECT_NE(text.find("Не удалось создать файл для выделения разделяемого сегмента: " + keyFile +
                            ": ENOENT ("),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("Ошибка подключения к SharedMemory\n"), std::string::npos) << text;
    }
    EXPECT_EQ(logText().find("Демон инициализирован"), std::string::npos) << logText();
}

// A value of the wrong type takes its default in the daemon as in fuelweb, and the daemon says so
// in its .err file and, while starting, on the starter's terminal.
TEST_F(DaemonRun, MistypedKeysAreWarnedAndTakeTheirDefaults)
{
    writeFile(dir.file("cfg.json"),
              "{\"fuelweb\": {\"ctl_addr\": false, \"mon_port\": \"65521\", \"tmp_path\": \"" + dir.path +
                  "\", \"run_path\": \"" + dir.path + "\", \"log_path\": \"" + dir.path +
                  "\", \"ctl_port\": {}}}");
    processResult r = start();
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_GT(daemonPid, 1);
    const std::string errFile = readFile(dir.file("pcuMonitorServer.err"));
    for (const std::string& text : {r.err, errFile}) {
        EXPECT_NE(text.find("Ключ конфигурации \"fuelweb.ctl_addr\" = false не подходит (ожидается строка): "
                            "взято значение по умолчанию \"127.0.0.1\""),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("\"fuelweb.mon_port\" = \"65521\" не подходит"), std::string::npos) << text;
        EXPECT_EQ(text.find("ctl_port"), std::string::npos) << "not a key of the daemon";
    }
    EXPECT_TRUE(waitFor([&] {
        return logText().find("Файл ключа разделяемой памяти: " + dir.file("trkstat.mem")) !=
               std::string::npos;
    })) << logText();
    ASSERT_EQ(::kill(daemonPid, SIGTERM), 0);
    EXPECT_EQ(waitDaemon(), 0);
}

}  // namespace
