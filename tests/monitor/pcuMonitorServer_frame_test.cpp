// Steps of the daemon's start that need no process of their own.
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <sstream>
#include <string>

#include "pcuMonitorServer.h"
#include "processRunner.h"
#include "signalLog.h"

using namespace pcudata;
using namespace montest;

namespace {

class DaemonSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        monitorServer::pidFile.clear();
        monitorServer::pcuAddr.clear();
        monitorServer::monPort = 0;
        monitorServer::setProgname("/usr/sbin/pcuMonitorServer");
    }
    int load(const std::string& json)
    {
        writeFile(dir.file("cfg.json"), json);
        return monitorServer::loadConfig(dir.file("cfg.json"), s);
    }
    tempDir dir;
    monitorServer::settings s;
};

TEST_F(DaemonSettings, KeysOfTheFuelwebObject)
{
    ASSERT_EQ(load(R"({"fuelweb": {"ctl_addr": "10.0.0.5", "mon_port": 7000, "tmp_path": "/t",
                        "run_path": "/r", "log_path": "/l", "ctl_port": 1}})"),
              monitorServer::CONTINUE);
    monitorServer::applyOptions(s);
    EXPECT_EQ(s.host, "10.0.0.5");
    EXPECT_EQ(s.port, 7000u);
    EXPECT_EQ(s.keyFile, "/t/trkstat.mem");
    EXPECT_EQ(s.logFile, "/l/pcuMonitorServer.log");
    EXPECT_EQ(s.errFile, "/l/pcuMonitorServer.err");
    EXPECT_EQ(s.pidPath, "/r/pcuMonitorServer.pid");
}

TEST_F(DaemonSettings, DefaultsForAbsentNullOrMistypedKeys)
{
    ASSERT_EQ(load(R"({"fuelweb": {"ctl_addr": null, "mon_port": -4, "tmp_path": null, "log_path": 7}})"),
              monitorServer::CONTINUE);
    monitorServer::applyOptions(s);
    EXPECT_EQ(s.host, "127.0.0.1");
    EXPECT_EQ(s.port, 65521u);
    EXPECT_EQ(s.keyFile, "/tmp/trkstat.mem");
    EXPECT_EQ(s.pidPath, "/var/run/pcuMonitorServer.pid");
    EXPECT_EQ(s.logFile, "/var/log/pcuMonitorServer.log");
    ASSERT_EQ(s.warnings.size(), 2u) << "null counts as absent";
    EXPECT_NE(s.warnings[0].find("\"fuelweb.mon_port\" = -4"), std::string::npos) << s.warnings[0];
    EXPECT_NE(s.warnings[1].find("\"fuelweb.log_path\" = 7"), std::string::npos) << s.warnings[1];

    monitorServer::settings other;
    s = other;
    EXPECT_EQ(load("[1, 2]"), monitorServer::CONTINUE) << "valid JSON without the object";
    ASSERT_EQ(s.warnings.size(), 1u);
    EXPECT_NE(s.warnings[0].find("не является объектом JSON"), std::string::npos) << s.warnings[0];
}

TEST_F(DaemonSettings, ByteOrderMarkIsSkipped)
{
    ASSERT_EQ(load("\xEF\xBB\xBF{\"fuelweb\": {\"mon_port\": 7001}}"), monitorServer::CONTINUE);
    EXPECT_EQ(s.port, 7001u);
    EXPECT_TRUE(s.warnings.empty());
}

TEST_F(DaemonSettings, CommandLineOverridesTheFile)
{
    ASSERT_EQ(load(R"({"fuelweb": {"ctl_addr": "10.0.0.5", "mon_port": 7000}})"), monitorServer::CONTINUE);
    monitorServer::pcuAddr = "192.168.1.2";
    monitorServer::monPort = 7100;
    monitorServer::pidFile = "/var/lib/x.pid";
    monitorServer::applyOptions(s);
    EXPECT_EQ(s.host, "192.168.1.2");
    EXPECT_EQ(s.port, 7100u);
    EXPECT_EQ(s.pidPath, "/var/lib/x.pid");
}

TEST_F(DaemonSettings, UnreadableFileLeavesTheDefaults)
{
    std::ostringstream err;
    std::streambuf* old = std::cerr.rdbuf(err.rdbuf());
    const int rc = monitorServer::loadConfig(dir.path, s);  // a directory opens but does not read
    std::cerr.rdbuf(old);
    EXPECT_EQ(rc, monitorServer::CONTINUE);
    EXPECT_EQ(err.str().rfind("Не возможно открыть файл конфигурации: " + dir.path + ": EISDIR (", 0), 0u)
        << err.str();
    EXPECT_EQ(s.host, "127.0.0.1");
}

TEST(DaemonSignals, ARefusedHandlerIsReportedWithTheSystemsReason)
{
    testing::internal::CaptureStderr();
    EXPECT_FALSE(monitorServer::installHandler(SIGKILL, SIG_IGN));
    EXPECT_TRUE(monitorServer::installHandler(SIGUSR2, SIG_DFL));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("): Не удалось установить обработчик сигнала SIGKILL: EINVAL ("), std::string::npos)
        << err;
    EXPECT_EQ(err.find("SIGUSR2"), std::string::npos);
}

TEST(DaemonPidFile, OnlyAPositiveNumberAtTheStartCounts)
{
    tempDir dir;
    const std::string path = dir.file("p.pid");
    EXPECT_EQ(monitorServer::readPidFile(path), 0) << "missing";
    const std::pair<const char*, pid_t> cases[] = {
        {"4242", 4242},     {"4242\n", 4242}, {"77abc", 77}, {"", 0},
        {"abc", 0},         {"-5", 0},        {"0", 0},      {"12345678901", 1234567890},
        {"99999999999", 0},
    };
    for (const auto& c : cases) {
        writeFile(path, c.first);
        EXPECT_EQ(monitorServer::readPidFile(path), c.second) << c.first;
    }
}

TEST(DaemonSignalLog, StampMatchesLocalTime)
{
    const time_t t = 1767225599;  // a New Year's Eve, one second before midnight UTC
    signalLog::cacheUtcOffset(t);
    char buf[128];
    signalLog::formatLine(buf, sizeof buf, t, "Остановка демона по сигналу : ", 15, true);
    struct tm tm = {};
    ::localtime_r(&t, &tm);
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "(%04d-%02d-%02d %02d:%02d:%02d): Остановка демона по сигналу : 15\n", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    EXPECT_STREQ(buf, expected);

    const size_t len = signalLog::formatLine(buf, 10, t, "long text", 1, false);
    EXPECT_EQ(len, 9u) << "cut to the buffer";
    EXPECT_EQ(buf[9], '\0');
}

TEST(DaemonSignalLog, CivilDatesAcrossLeapYears)
{
    // Checked against localtime_r, with the offset cached for the same instant.
    char buf[128];
    for (time_t t : {time_t(0), time_t(951782400), time_t(4107542399), time_t(1709164800)}) {
        struct tm tm = {};
        ::localtime_r(&t, &tm);
        signalLog::cacheUtcOffset(t);
        signalLog::formatLine(buf, sizeof buf, t, "", 0, false);
        char expected[64];
        std::snprintf(expected, sizeof expected, "(%04d-%02d-%02d %02d:%02d:%02d): \n", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        EXPECT_STREQ(buf, expected) << t;
    }
}

}  // namespace
