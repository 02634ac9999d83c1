// A signal that ends the daemon must never find it holding a pump's lock word: nobody would ever
// give that lock back. The handler here plays the daemon's stop handler and records the lock word
// at the moment it would end the process.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "monitorTestUtil.h"
#include "pcuMonitor.h"

using namespace pcudata;

namespace {

pcuMonitor* volatile stopMon = nullptr;
trkState_t* volatile watched = nullptr;
volatile sig_atomic_t stops = 0;
volatile sig_atomic_t lockAtStop = -1;

void stopHandler(int sig)
{
    if (stopMon->deferStop(sig)) return;
    lockAtStop = watched->lock;
    stops = stops + 1;
}

// Raises the stop signal at the first clock read or pause after being armed, that is from inside
// the monitor's own steps.
class signallingClock : public montest::manualClock {
public:
    time_t now() override
    {
        fire();
        return manualClock::now();
    }
    void sleepUs(int64_t d) override
    {
        fire();
        if (onSleep) onSleep();
        manualClock::sleepUs(d);
    }
    bool armed = false;
    void (*onSleep)() = nullptr;

private:
    void fire()
    {
        if (!armed) return;
        armed = false;
        ::raise(SIGUSR2);
    }
};

class MonitorStopSignal : public ::testing::Test {
protected:
    void SetUp() override
    {
        mon.setIpcPath(key.path);
        ASSERT_EQ(mon.shmInit(), 0);
        stopMon = &mon;
        stops = 0;
        lockAtStop = -1;
        struct sigaction sa = {};
        sa.sa_handler = stopHandler;
        sigemptyset(&sa.sa_mask);
        ASSERT_EQ(::sigaction(SIGUSR2, &sa, &oldAction), 0);
    }
    void TearDown() override
    {
        ::sigaction(SIGUSR2, &oldAction, nullptr);
        stopMon = nullptr;
        watched = nullptr;
    }

    montest::tempKeyFile key;
    signallingClock clock;
    timeSourceGuard guard{&clock};
    pcuMonitor mon;
    trkState_t state{};
    struct sigaction oldAction = {};
};

TEST_F(MonitorStopSignal, StopWhilePublishingWaitsForTheUnlock)
{
    watched = mon.getTrkState(3);
    clock.armed = true;  // the progress check reads the clock under the lock
    trkState_clear(state);
    ASSERT_EQ(mon.parseTrkState_n("T3;S7", state), 0);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(lockAtStop, TRK_LOCK_FREE) << "the process would end with the pump locked";
    EXPECT_EQ(watched->status, 7) << "the publication is finished first";
}

TEST_F(MonitorStopSignal, StopDuringALockWaitComesAfterIt)
{
    // The web service holds pump 2 and lets it go while the daemon waits for it.
    static trkState_t* webHeld = nullptr;
    webHeld = mon.getTrkState(2);
    webHeld->lock = TRK_LOCK_HELD;
    watched = webHeld;
    clock.onSleep = [] { webHeld->lock = TRK_LOCK_FREE; };
    clock.armed = true;
    ASSERT_EQ(mon.parseTrkBitFlags("E0,3"), 0);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(lockAtStop, TRK_LOCK_FREE);
    EXPECT_EQ(webHeld->autoStart, 1);
}

TEST_F(MonitorStopSignal, NothingIsPutAsideOutsideALock)
{
    EXPECT_FALSE(mon.deferStop(SIGTERM));
    watched = mon.getTrkState(1);
    ::raise(SIGUSR2);
    EXPECT_EQ(stops, 1);
    trkState_clear(state);
    ASSERT_EQ(mon.parseTrkState_n("T1;S3", state), 0);
    EXPECT_EQ(stops, 1) << "no signal left over from an earlier section";
}

}  // namespace
