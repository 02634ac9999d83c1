// The monitoring loop against the simulated controller, with compressed time.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "monitorTestUtil.h"
#include "pcuMonitor.h"
#include "pcuSimulator.h"

#include "testSupport.h"

using namespace pcudata;

namespace {

const char* const LOST = "Потеря соединения с сокетом мониторинга ТРК. Восстановление подключения";
const char* const CONNECTED = "Подключение к сокету мониторинга ТРК установлено";
const char* const NO_CONNECTION = "Нет подключения к сокету мониторинга ТРК. Переподключиаемя";

sim::stationConfig quietStation()
{
    sim::stationConfig cfg = sim::defaultStation();
    cfg.repeatMs = 0;         // only what the tests send
    cfg.autoDriverTicks = 0;  // no simulated driver
    return cfg;
}

using testsupport::closedPort;

class MonitorLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pcu.start(), 0);
        mon.setIpcPath(key.path);
        ASSERT_EQ(mon.shmInit(), 0);
        mon.sock().setHost("127.0.0.1");
        mon.sock().setPort(static_cast<uint32_t>(pcu.monPort()));
    }

    // Runs passes until cond holds; false after maxPasses.
    bool passUntil(const std::function<bool()>& cond, int maxPasses = 200)
    {
        for (int i = 0; i < maxPasses; ++i) {
            if (cond()) return true;
            mon.runPass();
        }
        return cond();
    }
    // The four pumps of the simulated station are all published.
    bool stationPublished()
    {
        for (int n = 1; n <= 4; ++n)
            if (mon.getTrkState(n)->trk != n) return false;
        return mon.getPcuStatus()->drvVersion == 2;
    }
    trkState_t& rec(int n) { return *mon.getTrkState(n); }
    int64_t dataTime() { return mon.getPcuStatus()->dataTime; }

    montest::tempKeyFile key;
    scaledTimeSource fast{1000};
    timeSourceGuard guard{&fast};
    sim::pcuSimulator pcu{quietStation()};
    pcuMonitor mon;
};

TEST_F(MonitorLoop, PublishesTheControllerLines)
{
    montest::logCapture log;
    ASSERT_TRUE(passUntil([&] { return stationPublished(); }));
    EXPECT_EQ(rec(1).status, pcu.status(1));
    EXPECT_EQ(rec(5).trk, 0);
    EXPECT_GT(dataTime(), 0);
    EXPECT_EQ(log.count(log.outText(), CONNECTED), 1u);
    EXPECT_EQ(log.errText(), "");

    pcu.sendRawMonitorLine("T2;S3;A777,888");
    ASSERT_TRUE(passUntil([&] { return rec(2).volume == 777; }));
    pcu.sendRawMonitorLine("E0,3");
    ASSERT_TRUE(passUntil([&] { return rec(2).autoStart == 1; }));
    EXPECT_EQ(rec(1).autoStart, 1);
    EXPECT_EQ(rec(3).autoStart, 0);
    EXPECT_EQ(log.outText().find("Наблюдение"), std::string::npos) << "untagged pumps are not logged";
}

TEST_F(MonitorLoop, TaggedPumpLinesAreLogged)
{
    ASSERT_TRUE(passUntil([&] { return stationPublished(); }));
    rec(1).tagged = 1;
    std::strcpy(rec(1).orderId, "A-1");
    rec(1).tagTime = 100;
    rec(1).notifyDue = 0;
    rec(1).notifyTime = 0;
    montest::logCapture log;
    pcu.sendRawMonitorLine("T1;S7;I5;A12340,5678");
    ASSERT_TRUE(passUntil([&] { return rec(1).status == 7; }));
    const std::string figures = "A-1'  транзакция '5' [ ТРК=1 Статус=7 Объем=12.340000 Сумма=56.780000 ] ";
    EXPECT_NE(log.outText().find("): Наблюдение за состоянием ТРК : Заказ '" + figures + "[ at : 100]\n"),
              std::string::npos)
        << log.outText();
    EXPECT_NE(log.outText().find("): Состояние счетика налива: Заказ '" + figures + "\n"), std::string::npos)
        << log.outText();

    pcu.sendRawMonitorLine("T1;S3");
    ASSERT_TRUE(passUntil([&] { return rec(1).status == 3; }));
    EXPECT_EQ(log.count(log.outText(), "Наблюдение за состоянием ТРК"), 2u);
    EXPECT_EQ(log.count(log.outText(), "Состояние счетика налива"), 1u) << "status 3 is not a delivery";
}

TEST_F(MonitorLoop, ClosedConnectionIsReopened)
{
    montest::logCapture log;
    ASSERT_TRUE(passUntil([&] { return stationPublished(); }));
    pcu.closeMonitorConnections();
    ASSERT_TRUE(passUntil([&] { return log.count(log.outText(), CONNECTED) == 2; }, 50));
    EXPECT_EQ(log.count(log.errText(), LOST), 1u);
    EXPECT_EQ(log.count(log.outText(), LOST), 1u);
    EXPECT_EQ(log.errText().find("Сокет работает с ошибками"), std::string::npos)
        << "end of stream is a loss of the connection, not a socket fault";
    pcu.sendRawMonitorLine("T3;S8");
    ASSERT_TRUE(passUntil([&] { return rec(3).status == 8; }));
}

TEST_F(MonitorLoop, QuietConnectionKeepsDataTimeAdvancing)
{
    ASSERT_TRUE(passUntil([&] { return stationPublished(); }));
    pcu.setMonitorSilent(true);
    mon.runPass();  // one idle read: 10 nominal seconds
    const int64_t first = dataTime();
    mon.runPass();
    EXPECT_GT(dataTime(), first);
    EXPECT_LE(dataTime(), static_cast<int64_t>(timeSrc().now()));
    EXPECT_TRUE(mon.sock().isConnected());

    pcu.setMonitorSilent(false);
    pcu.sendRawMonitorLine("R1;X2");  // read, ignored, still a good read
    const int64_t before = dataTime();
    mon.runPass();
    EXPECT_GE(dataTime(), before);
}

TEST_F(MonitorLoop, OpenAndStopMarkDataTime)
{
    ASSERT_TRUE(mon.open("127.0.0.1", static_cast<uint32_t>(pcu.monPort())));
    EXPECT_GT(dataTime(), 0);
    EXPECT_EQ(mon.stop(), 0);
    EXPECT_EQ(dataTime(), 0);
    EXPECT_FALSE(mon.sock().isConnected());
}

// A controller that resets the connection: the read fails with an error code, which is logged,
// and the loop reconnects without reporting a loss (the connection was dropped on purpose).
TEST(MonitorReadError, ResetConnectionIsLoggedAndReopened)
{
    montest::tempKeyFile key;
    scaledTimeSource slow(10);  // the read budget of 10 s lasts 1 s, far longer than the reset
    timeSourceGuard guard(&slow);
    const int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(lfd, 4), 0);
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread server([lfd] {
        const int fd = ::accept(lfd, nullptr, nullptr);
        (void)!::write(fd, "T1;S3\n", 6);
        ::usleep(200000);  // the monitor is waiting in its next read by then
        linger lg{1, 0};   // close with a reset
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        ::close(fd);
        const int again = ::accept(lfd, nullptr, nullptr);
        ::usleep(20000);
        ::close(again);
    });
    pcuMonitor mon;
    mon.setIpcPath(key.path);
    ASSERT_EQ(mon.shmInit(), 0);
    mon.sock().setHost("127.0.0.1");
    mon.sock().setPort(ntohs(a.sin_port));
    montest::logCapture log;
    mon.runPass();  // connects, reads T1;S3
    EXPECT_EQ(mon.getTrkState(1)->status, 3);
    mon.runPass();  // waits, the reset arrives
    mon.runPass();  // reconnects
    server.join();
    ::close(lfd);
    const std::string readError = "Ошибка чтения данных состояния ТРК ( err : " + std::to_string(ECONNRESET) +
                                  " '" + std::strerror(ECONNRESET) + "' )\n";
    EXPECT_NE(log.errText().find(readError), std::string::npos) << log.errText();
    EXPECT_NE(log.outText().find(readError), std::string::npos) << log.outText();
    EXPECT_NE(log.outText().find("): Разрываем соединение с сокетом\n"), std::string::npos);
    EXPECT_EQ(log.count(log.outText(), CONNECTED), 2u);
    EXPECT_EQ(log.count(log.errText(), LOST), 0u);
}

TEST(MonitorNoController, WarnsAtMostEvery15Seconds)
{
    montest::tempKeyFile key;
    montest::manualClock clock;
    timeSourceGuard guard(&clock);
    pcuMonitor mon;
    mon.setIpcPath(key.path);
    ASSERT_EQ(mon.shmInit(), 0);
    mon.sock().setHost("127.0.0.1");
    mon.sock().setPort(static_cast<uint32_t>(closedPort()));
    montest::logCapture log;
    const time_t start = clock.now();
    for (int i = 0; i < 12; ++i) mon.runPass();  // each pass: 4 refused attempts and the pauses
    const time_t elapsed = clock.now() - start;
    const size_t warnings = log.count(log.errText(), NO_CONNECTION);
    EXPECT_GE(elapsed, 45);
    EXPECT_GE(warnings, 2u);
    EXPECT_LE(warnings, static_cast<size_t>(1 + elapsed / 15));
    EXPECT_EQ(log.outText(), "");
    EXPECT_EQ(mon.getPcuStatus()->dataTime, 0);
}

}  // namespace
