// The fuelweb program as the service manager sees it: restart on SIGHUP with the configuration
// read again, clean end on SIGTERM, status 1 when it can't start.
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "testSupport.h"
#include "webTestSupport.h"

extern char** environ;

namespace {

using testsupport::readFile;

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
    return n;
}

class FuelwebProcess : public ::testing::Test {
protected:
    webtest::tempDir dir;
    uint16_t port = 0;
    pid_t pid = -1;

    std::string configFile() const { return dir.path() + "/fuelweb.json"; }
    std::string logFile() const { return dir.path() + "/fuelweb.log"; }
    std::string errFile() const { return dir.path() + "/stderr.txt"; }

    void TearDown() override
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    void writeConfig(int orderTimeout)
    {
        std::ofstream out(configFile());
        out << "{\"service\":{\"ip\":\"127.0.0.1\",\"port\":" << port << ",\"worker_threads\":4},"
            << "\"logging\":{\"level\":\"info\",\"file\":\"" << logFile() << "\"},"
            << "\"fuelweb\":{\"operator\":{\"port\":0},\"tmp_path\":\"" << dir.path()
            << "\",\"order_timeout\":" << orderTimeout << ",\"state_path\":\"" << dir.path()
            << "/state.db\"}}";
    }

    void spawn(const std::string& config)
    {
        const char* binDir = std::getenv("FUELGATE_BIN_DIR");
        ASSERT_NE(binDir, nullptr);
        std::string bin = std::string(binDir) + "/app-azs/src/fuelweb";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::string c = "-c";
        char* argv[] = {const_cast<char*>(bin.c_str()), const_cast<char*>(c.c_str()),
                        const_cast<char*>(config.c_str()), nullptr};
        ASSERT_EQ(posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
    }

    // Waits up to 3 s until the log holds text count times.
    bool waitForLog(const std::string& text, size_t count = 1)
    {
        for (int i = 0; i < 300; ++i) {
            if (countOf(readFile(logFile()), text) >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Status of the child after it exited, -1 when it still runs after 3 s.
    int waitExit()
    {
        for (int i = 0; i < 300; ++i) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    // Any request makes the pool build a root object, which logs the start-up report.
    void touch()
    {
        for (int i = 0; i < 100; ++i) {
            try {
                webtest::httpGet(port, "/api/fuelweb");
                return;
            } catch (...) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
    }
};

TEST_F(FuelwebProcess, SighupRestartsWithTheChangedConfiguration)
{
    port = webtest::freePort();
    writeConfig(120);
    spawn(configFile());
    ASSERT_TRUE(waitForLog("Запуск приложения"));
    touch();
    ASSERT_TRUE(waitForLog("Таймаут ожидания пуска ТРК : (120)"));

    writeConfig(77);
    ::kill(pid, SIGHUP);
    ASSERT_TRUE(waitForLog("Запуск приложения", 2));
    touch();
    ASSERT_TRUE(waitForLog("Таймаут ожидания пуска ТРК : (77)"))
        << readFile(logFile()) << readFile(errFile());
    std::string log = readFile(logFile());
    size_t hup = log.find("Перезапуск приложения");
    size_t restart = log.find("Рестарт приложения");
    ASSERT_NE(hup, std::string::npos);
    ASSERT_NE(restart, std::string::npos);
    EXPECT_LT(hup, restart);
    EXPECT_LT(restart, log.rfind("Запуск приложения"));
    EXPECT_NE(log.find("Notice fuelweb: Перезапуск приложения"), std::string::npos);
    EXPECT_NE(log.find("Warning fuelweb: Рестарт приложения"), std::string::npos);
}

// A configuration broken during the day must not stop the service at the SIGHUP of the night's log
// rotation: the restart keeps the last good one and says why; a mended file is taken at the next.
TEST_F(FuelwebProcess, SighupWithABrokenConfigurationKeepsTheLastGoodOne)
{
    port = webtest::freePort();
    writeConfig(120);
    spawn(configFile());
    ASSERT_TRUE(waitForLog("Запуск приложения"));

    const std::string broken[] = {"{\"service\":", "{\"service\":{\"port\":\"abc\"}}"};
    size_t restarts = 1;
    for (const std::string& text : broken) {
        SCOPED_TRACE(text);
        std::ofstream(configFile()) << text;
        ::kill(pid, SIGHUP);
        ++restarts;
        ASSERT_TRUE(waitForLog("Запуск приложения", restarts)) << readFile(logFile());
        EXPECT_TRUE(waitForLog("приложение продолжает работу с прежней конфигурацией", restarts - 1));
        touch();
        EXPECT_TRUE(waitForLog("Таймаут ожидания пуска ТРК : (120)", restarts)) << readFile(logFile());
    }
    EXPECT_NE(readFile(logFile()).find("service.port"), std::string::npos);

    writeConfig(77);
    ::kill(pid, SIGHUP);
    ASSERT_TRUE(waitForLog("Запуск приложения", restarts + 1));
    touch();
    EXPECT_TRUE(waitForLog("Таймаут ожидания пуска ТРК : (77)"));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(), 0);
}

TEST_F(FuelwebProcess, SigtermEndsWithStatusZero)
{
    port = webtest::freePort();
    writeConfig(120);
    spawn(configFile());
    ASSERT_TRUE(waitForLog("Запуск приложения"));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(waitExit(), 0);
    std::string log = readFile(logFile());
    size_t stop = log.find("Остановка приложения по сигналу [ 15 ]");
    ASSERT_NE(stop, std::string::npos);
    EXPECT_LT(stop, log.find("Завершение работы приложения"));
    EXPECT_EQ(log.find("Рестарт приложения"), std::string::npos);
}

TEST_F(FuelwebProcess, SigintEndsWithStatusZero)
{
    port = webtest::freePort();
    writeConfig(120);
    spawn(configFile());
    ASSERT_TRUE(waitForLog("Запуск приложения"));
    ::kill(pid, SIGINT);
    EXPECT_EQ(waitExit(), 0);
    EXPECT_NE(readFile(logFile()).find("Остановка приложения по сигналу [ 2 ]"), std::string::npos);
}

TEST_F(FuelwebProcess, UnreadableConfigurationEndsWithStatusOne)
{
    spawn(dir.path() + "/missing.json");
    EXPECT_EQ(waitExit(), 1);
    EXPECT_NE(readFile(errFile()).find("missing.json"), std::string::npos);
}

// A configuration the service can not run with ends the start with status 1 and a plain message on
// standard error (and in the log, when there is one yet).
TEST_F(FuelwebProcess, ConfigurationsThatCanNotRunEndWithStatusOneAndSayWhy)
{
    const std::pair<std::string, std::string> cases[] = {
        {"{\"service\":{\"port\":70000}}",
         "Ключ конфигурации \"service.port\" = 70000 недопустим: ожидается целое число от 0 до 65535"},
        {"{\"service\":{\"worker_threads\":2147483647}}",
         "Ключ конфигурации \"service.worker_threads\" = 2147483647 недопустим: ожидается целое число от 1 "
         "до 1024"},
        {"{\"logging\":{\"level\":\"verbose\"}}",
         "Ключ конфигурации \"logging.level\" = \"verbose\" недопустим"},
        {"[1,2]", "Файл конфигурации " + configFile() + ": документ не является объектом JSON"},
        {"", "Файл конфигурации " + configFile() + ": пустой документ"},
        {"{\"fuelweb\":", "Файл конфигурации " + configFile() + ": ошибка в JSON"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        std::ofstream(configFile()) << c.first;
        spawn(configFile());
        EXPECT_EQ(waitExit(), 1);
        EXPECT_NE(readFile(errFile()).find(c.second + ""), std::string::npos) << readFile(errFile());
    }
    spawn(dir.path());
    EXPECT_EQ(waitExit(), 1);
    EXPECT_NE(readFile(errFile()).find("Не удалось прочитать файл конфигурации " + dir.path() + ": EISDIR ("),
              std::string::npos)
        << readFile(errFile());
}

// Port 0 lets the system pick the port; the log tells which. A byte-order mark is no error, and a
// mistyped "fuelweb" key is named in the log once, with the default taken.
TEST_F(FuelwebProcess, LogsTheBoundPortTheKeyFileAndMistypedKeys)
{
    std::ofstream(configFile()) << "\xEF\xBB\xBF{\"service\":{\"ip\":\"127.0.0.1\",\"port\":0},"
                                << "\"logging\":{\"file\":\"" << logFile() << "\"},"
                                << "\"fuelweb\":{\"operator\":{\"port\":0},\"tmp_path\":\"" << dir.path()
                                << "\",\"order_timeout\":\"60\",\"state_path\":\"" << dir.path()
                                << "/state.db\"}}";
    spawn(configFile());
    ASSERT_TRUE(waitForLog("Файл ключа разделяемой памяти: " + dir.keyFile())) << readFile(errFile());
    const std::string log = readFile(logFile());
    const std::string bound = "Приём запросов на 127.0.0.1:";
    const size_t at = log.find(bound);
    ASSERT_NE(at, std::string::npos) << log;
    port = static_cast<uint16_t>(std::atoi(log.c_str() + at + bound.size()));
    ASSERT_NE(port, 0);
    touch();
    touch();
    const std::string warning =
        "Warning fuelweb: Ключ конфигурации \"fuelweb.order_timeout\" = \"60\" не подходит (ожидается целое "
        "число от -2147483648 до 2147483647): взято значение по умолчанию 120";
    ASSERT_TRUE(waitForLog(warning)) << readFile(logFile());
    EXPECT_TRUE(waitForLog("Таймаут ожидания пуска ТРК : (120)"));
    EXPECT_EQ(countOf(readFile(logFile()), warning), 1u) << readFile(logFile());
}

TEST_F(FuelwebProcess, PortInUseEndsWithStatusOne)
{
    Poco::Net::ServerSocket taken(Poco::Net::SocketAddress("127.0.0.1", 0));
    port = taken.address().port();
    writeConfig(120);
    spawn(configFile());
    EXPECT_EQ(waitExit(), 1);
    EXPECT_NE(readFile(errFile()).find("in use"), std::string::npos);
}

}  // namespace
