// What the programs tell systemd: the notifier's messages reach the socket systemd names and
// nothing happens without one; the watchdog pings only while every heartbeat is fresh, judged on
// the time source's clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "heartbeat.h"
#include "notifySocket.h"
#include "systemdNotify.h"
#include "testSupport.h"
#include "timeSource.h"
#include "watchdogPinger.h"

using pcudata::heartbeat;
using pcudata::heartbeatBoard;
using pcudata::watchdogPinger;
namespace notify = pcudata::systemdNotify;

namespace {

constexpr int64_t LIMIT_US = 60 * pcudata::SECOND_US;

TEST(SystemdNotify, MessagesReachTheSocketSystemdNames)
{
    notifySocket sock;
    EXPECT_TRUE(notify::send("READY=1"));
    EXPECT_EQ(sock.next(), "READY=1");
    EXPECT_TRUE(notify::send("STOPPING=1"));
    EXPECT_EQ(sock.next(), "STOPPING=1");
}

TEST(SystemdNotify, OutsideSystemdNothingIsSentAndThereIsNoWatchdog)
{
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    EXPECT_FALSE(notify::send("READY=1"));
    EXPECT_EQ(notify::watchdogUs(), 0);
}

TEST(SystemdNotify, WatchdogPeriodComesFromTheEnvironment)
{
    ::unsetenv("WATCHDOG_PID");
    ::setenv("WATCHDOG_USEC", "3000000", 1);
    EXPECT_EQ(notify::watchdogUs(), 3000000);
    // Meant for another process (the one systemd started, before a fork): not ours.
    ::setenv("WATCHDOG_PID", "1", 1);
    EXPECT_EQ(notify::watchdogUs(), 0);
    ::unsetenv("WATCHDOG_PID");
    ::unsetenv("WATCHDOG_USEC");
}

TEST(WatchdogLimit, TwiceThePeriodButNeverBelowTheFloor)
{
    EXPECT_EQ(watchdogPinger::limitFor(30 * pcudata::SECOND_US), 60 * pcudata::SECOND_US);
    EXPECT_EQ(watchdogPinger::limitFor(2 * pcudata::SECOND_US), watchdogPinger::MIN_LIMIT_US);
}

class WatchdogRounds : public ::testing::Test {
protected:
    testsupport::manualClock clock;
    pcudata::timeSourceGuard guard{&clock};
    notifySocket sock;
    heartbeatBoard board;
};

TEST_F(WatchdogRounds, PingsStopWhileAHeartbeatStallsAndComeBackWhenItBeatsAgain)
{
    watchdogPinger pinger(board, LIMIT_US);
    heartbeat worker("http worker", board);
    heartbeat sender("notice sender", board);
    EXPECT_TRUE(pinger.round());
    EXPECT_EQ(sock.next(), "WATCHDOG=1");

    clock.advanceSec(59);
    sender.stamp();
    EXPECT_TRUE(pinger.round()) << "59 s without a beat is within the limit";
    EXPECT_EQ(sock.next(), "WATCHDOG=1");

    clock.advanceSec(2);  // the worker is 61 s silent, the sender 2 s
    EXPECT_FALSE(pinger.round());
    EXPECT_EQ(sock.next(50), "") << "no ping while the worker is stuck";
    ASSERT_EQ(board.stalled(clock.nowUs(), LIMIT_US).size(), 1u);
    EXPECT_EQ(board.stalled(clock.nowUs(), LIMIT_US)[0].name, "http worker");

    worker.stamp();
    EXPECT_TRUE(pinger.round());
    EXPECT_EQ(sock.next(), "WATCHDOG=1");
}

TEST_F(WatchdogRounds, APauseThroughTheTimeSourceIsABeatOfThePausingThread)
{
    watchdogPinger pinger(board, LIMIT_US);
    std::thread polling([&] {
        heartbeat watch("http worker", board);
        // A delivery watched for ten minutes, a poll a second: it never falls silent.
        for (int i = 0; i < 600; ++i) pcudata::pauseUs(pcudata::SECOND_US);
        EXPECT_TRUE(board.stalled(clock.nowUs(), LIMIT_US).empty());
        heartbeat::beat();
    });
    polling.join();
    EXPECT_EQ(board.size(), 0u) << "a heartbeat leaves the board with its scope";
    heartbeat::beat();  // a thread without a heartbeat: nothing to stamp
}

TEST_F(WatchdogRounds, TheStatusLineIsSentWhenItChanges)
{
    std::string text = "ТРК в таблице: 4; заказов в работе: 0";
    watchdogPinger pinger(board, LIMIT_US, [&] { return text; });
    pinger.round();
    EXPECT_EQ(sock.next(), "STATUS=" + text);
    EXPECT_EQ(sock.next(), "WATCHDOG=1");
    pinger.round();
    EXPECT_EQ(sock.next(), "WATCHDOG=1") << "the same status is not sent again";
    text = "ТРК в таблице: 4; заказов в работе: 1";
    pinger.round();
    EXPECT_EQ(sock.next(), "STATUS=" + text);
}

TEST(WatchdogThread, PingsOnItsOwnThreadUntilStopped)
{
    notifySocket sock;
    heartbeatBoard board;
    watchdogPinger pinger(board, LIMIT_US);
    pinger.start(5000);
    EXPECT_EQ(sock.next(), "WATCHDOG=1");
    EXPECT_EQ(sock.next(), "WATCHDOG=1");
    pinger.stop();
    while (!sock.next(20).empty()) {
    }
    EXPECT_EQ(sock.next(50), "");
}

}  // namespace
