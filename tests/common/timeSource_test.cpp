#include "timeSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace pcudata;

TEST(TimeSource, ScaledSourceCompressesSleepsAndAdvancesItsClock)
{
    scaledTimeSource fast(1000.0);
    timeSourceGuard guard(&fast);
    auto realStart = std::chrono::steady_clock::now();
    time_t before = timeSrc().now();
    timeSrc().sleepUs(3000000);  // a nominal 3 s
    auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                        realStart)
                      .count();
    EXPECT_LT(realMs, 500);
    EXPECT_GE(timeSrc().now() - before, 2);
}

TEST(TimeSource, GuardRestoresTheRealClock)
{
    {
        scaledTimeSource fast(1000.0);
        timeSourceGuard guard(&fast);
        EXPECT_EQ(&timeSrc(), &fast);
    }
    EXPECT_NEAR(static_cast<double>(timeSrc().now()), static_cast<double>(::time(nullptr)), 1.0);
}

namespace {

int64_t realMsOf(const std::function<void()>& f)
{
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

// Only the pauses of a thread that waits under the breaker end early, on the real clock and on a
// scaled one alike; a tripped breaker cuts every later pause until it is reset.
TEST(PauseBreaker, CutsThePausesOfTheThreadsUnderItOnly)
{
    pauseBreaker breaker;
    std::thread tripper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        breaker.trip();
    });
    int64_t cut = realMsOf([&] {
        breakablePauses scope(breaker);
        timeSrc().sleepUs(60000000);  // a minute
    });
    tripper.join();
    EXPECT_LT(cut, 10000);
    EXPECT_TRUE(breaker.tripped());

    scaledTimeSource fast(10.0);
    timeSourceGuard guard(&fast);
    EXPECT_LT(realMsOf([&] {
                  breakablePauses scope(breaker);
                  timeSrc().sleepUs(60000000);  // 6 s of real time unless cut
              }),
              1000);
    // Outside a scope the same breaker changes nothing.
    EXPECT_GE(realMsOf([] { timeSrc().sleepUs(1000000); }), 90);
    breaker.reset();
    EXPECT_GE(realMsOf([&] {
                  breakablePauses scope(breaker);
                  timeSrc().sleepUs(1000000);
              }),
              90);
}
