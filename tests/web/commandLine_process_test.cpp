// Every program's command line, run as a process: --version and --help on standard output with
// status 0 (the usage once), a wrong option refused on standard error; --check-config of fuelweb
// and of the daemon on files with a misspelt key, a wrong type, a value out of range and none; and
// what fuelweb tells systemd and its log when it runs.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>

#include "../common/notifySocket.h"
#include "fuelgateVersion.h"
#include "fuelwebProcess.h"
#include "monitor/processRunner.h"

namespace {

using montest::binDir;
using montest::runProcess;

struct program {
    const char* path;      // below the build directory
    const char* name;      // what --version starts with
    const char* usageTag;  // a line the usage holds once
    int wrongStatus;       // status after an unknown option
};

const program PROGRAMS[] = {
    {"app-azs/src/fuelweb", "fuelweb", "Usage: fuelweb -c CONFIG_FILE", 1},
    {"app-azs/src/fuelwebctl", "fuelwebctl", "Использование: fuelwebctl", 2},
    {"monitor/pcuMonitorServer", "pcuMonitorServer", "pcuMonitorServer [OPTIONS]", 1},
    {"simulator/pcuSimulator", "pcuSimulator", "usage: pcuSimulator", 2},
    {"simulator/platformStub", "platformStub", "usage: platformStub", 2},
};

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(CommandLine, VersionIsThePackagesAndTheCommit)
{
    const std::string expected = std::string(FUELGATE_VERSION) +
                                 (sizeof(FUELGATE_COMMIT) > 1 ? " (commit " FUELGATE_COMMIT ")" : "") + "\n";
    for (const program& p : PROGRAMS) {
        const montest::processResult r = runProcess({binDir() + "/" + p.path, "--version"});
        EXPECT_EQ(r.status, 0) << p.name;
        EXPECT_EQ(r.out, std::string(p.name) + " " + expected);
        EXPECT_EQ(r.err, "") << p.name;
    }
}

TEST(CommandLine, HelpPrintsTheUsageOnceOnStandardOutput)
{
    for (const program& p : PROGRAMS) {
        const montest::processResult r = runProcess({binDir() + "/" + p.path, "--help"});
        EXPECT_EQ(r.status, 0) << p.name;
        EXPECT_EQ(countOf(r.out, p.usageTag), 1u) << p.name << ":\n" << r.out;
        EXPECT_NE(r.out.find("--version"), std::string::npos) << p.name;
        EXPECT_EQ(r.err, "") << p.name;
    }
}

TEST(CommandLine, AnUnknownOptionGetsTheUsageOnStandardError)
{
    for (const program& p : PROGRAMS) {
        const montest::processResult r = runProcess({binDir() + "/" + p.path, "--no-such-option"});
        EXPECT_EQ(r.status, p.wrongStatus) << p.name;
        EXPECT_EQ(r.out, "") << p.name;
        EXPECT_EQ(countOf(r.err, p.usageTag), 1u) << p.name << ":\n" << r.err;
    }
}

// One file, what each program's check prints and its status. "" for a program: only the summary.
struct checkCase {
    const char* what;
    const char* json;
    int webStatus;
    const char* webLines;
    int daemonStatus;
    const char* daemonLines;
};

const checkCase CHECKS[] = {
    {"clean", R"({"service":{"port":8080},"fuelweb":{"ctl_addr":"127.0.0.1","mon_port":65521,
       "operator":{"ip":"127.0.0.1","port":0}}})",
     0, "", 0, ""},
    {"misspelt keys", R"({"fuelweb":{"ctl_adr":"10.0.0.5","upstream_endpiont":"https://p"}})", 1,
     "ошибка: неизвестный ключ \"fuelweb.ctl_adr\": возможно, \"fuelweb.ctl_addr\"\n"
     "ошибка: неизвестный ключ \"fuelweb.upstream_endpiont\": возможно, \"fuelweb.upstream_endpoint\"\n",
     1,
     "ошибка: неизвестный ключ \"fuelweb.ctl_adr\": возможно, \"fuelweb.ctl_addr\"\n"
     "ошибка: неизвестный ключ \"fuelweb.upstream_endpiont\": возможно, \"fuelweb.upstream_endpoint\"\n"},
    {"a key no program reads", R"({"comment":"kept by the installer"})", 0,
     "предупреждение: неизвестный ключ \"comment\": его не читает ни одна программа\n", 0,
     "предупреждение: неизвестный ключ \"comment\": его не читает ни одна программа\n"},
    {"a quoted port", R"({"service":{"port":"8080"},"fuelweb":{"mon_port":"65521"}})", 1,
     "ошибка: ключ \"service.port\" = \"8080\": значение не того типа, ожидается целое число от 0 до 65535\n",
     1,
     "ошибка: ключ \"fuelweb.mon_port\" = \"65521\": значение не того типа, ожидается целое число от 1 до "
     "65535\n"},
    {"out of range",
     R"({"service":{"worker_threads":5000},"fuelweb":{"operator":{"port":70000},"mon_port":0}})", 1,
     "ошибка: ключ \"service.worker_threads\" = 5000: значение вне допустимого, ожидается целое число от 1 "
     "до "
     "1024\n"
     "ошибка: ключ \"fuelweb.operator.port\" = 70000: значение вне допустимого, ожидается целое число от 0 "
     "до "
     "65535\n",
     1,
     "ошибка: ключ \"fuelweb.mon_port\" = 0: значение вне допустимого, ожидается целое число от 1 до "
     "65535\n"},
    {"a level the log does not know", R"({"logging":{"level":"loud"}})", 1,
     "ошибка: ключ \"logging.level\" = \"loud\": значение вне допустимого, ожидается одно из \"error\", "
     "\"warning\", \"notice\", \"info\", \"debug\"\n",
     0, ""},
};

size_t lineCount(const std::string& text)
{
    return countOf(text, "\n");
}

std::string summary(const std::string& path, const std::string& lines)
{
    return path + ": ошибок " + std::to_string(countOf(lines, "ошибка: ")) + ", предупреждений " +
           std::to_string(countOf(lines, "предупреждение: ")) + "\n";
}

TEST(CheckConfig, EachProgramReportsItsProblemsOneLineEach)
{
    webtest::tempDir dir;
    const std::string path = dir.path() + "/config.json";
    for (const checkCase& c : CHECKS) {
        SCOPED_TRACE(c.what);
        std::ofstream(path) << c.json;
        for (const char* flag : {"--check-config", "-t"}) {
            const montest::processResult web =
                runProcess({binDir() + "/app-azs/src/fuelweb", flag, "-c", path});
            EXPECT_EQ(web.status, c.webStatus);
            EXPECT_EQ(web.out, c.webLines + summary(path, c.webLines));
            EXPECT_EQ(web.err, "");
        }
        const montest::processResult mon =
            runProcess({binDir() + "/monitor/pcuMonitorServer", "--check-config", "--config", path});
        EXPECT_EQ(mon.status, c.daemonStatus);
        EXPECT_EQ(mon.out, c.daemonLines + summary(path, c.daemonLines));
        EXPECT_GE(lineCount(mon.out), 1u);
    }
}

TEST(CheckConfig, AFileThatIsNoConfigurationIsAnError)
{
    webtest::tempDir dir;
    const std::string path = dir.path() + "/config.json";
    std::ofstream(path) << "{\"service\":";
    for (const char* prog : {"/app-azs/src/fuelweb", "/monitor/pcuMonitorServer"}) {
        const montest::processResult r = runProcess({binDir() + prog, "--check-config", "-c", path});
        EXPECT_EQ(r.status, 1) << prog;
        EXPECT_EQ(countOf(r.out, "ошибка: "), 1u) << r.out;
        EXPECT_NE(r.out.find(path + ": ошибок 1, предупреждений 0"), std::string::npos) << r.out;
    }
    const montest::processResult missing =
        runProcess({binDir() + "/app-azs/src/fuelweb", "-t", "-c", dir.path() + "/none.json"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("ENOENT"), std::string::npos) << missing.out;
}

// fuelweb run under a stand-in of systemd's socket, with a misspelt key in its file.
class ServiceNotices : public webtest::FuelwebProcess {};

TEST_F(ServiceNotices, ReadyReloadingStoppingAndTheWatchdogReachSystemd)
{
    notifySocket systemd;
    ::unsetenv("WATCHDOG_PID");
    ::setenv("WATCHDOG_USEC", "200000", 1);
    writeConfig(stateFile(), ",\"ctl_adr\":\"127.0.0.1\"");
    startService();
    ::unsetenv("WATCHDOG_USEC");
    EXPECT_TRUE(systemd.waitFor("READY=1"));
    EXPECT_TRUE(systemd.waitFor("WATCHDOG=1"));
    EXPECT_TRUE(
        fw->waitForLog("Неизвестный ключ конфигурации \"fuelweb.ctl_adr\" не используется (возможно, "
                       "\"fuelweb.ctl_addr\")"));

    fw->signal(SIGHUP);
    EXPECT_TRUE(systemd.waitFor("RELOADING=1"));
    EXPECT_TRUE(systemd.waitFor("READY=1"));
    EXPECT_TRUE(fw->waitForLog("Неизвестный ключ конфигурации \"fuelweb.ctl_adr\"", 2)) << "once per reading";

    fw->signal(SIGTERM);
    EXPECT_TRUE(systemd.waitFor("STOPPING=1"));
    EXPECT_EQ(fw->waitExit(), 0);
    EXPECT_EQ(webtest::countOf(fw->log(), "Неизвестный ключ конфигурации"), 2u);
}

}  // namespace
