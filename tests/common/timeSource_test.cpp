#include "timeSource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

using namespace pcudata;

TEST(TimeSource, ScaledSourceCompressesSleepsAndAdvancesItsClock)
{
    scaledTimeSource fast(1000.0);
    timeSourceGuard guard(&fast);
    auto realStart = std::chrono::steady_clock::now();
    time_t before = timeSrc().now();
    timeSrc().sleepUs(3000000);  // a nominal 3 s
    auto realMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - realStart)
            .count();
    EXPECT_LT(realMs, 500);
    EXPECT_GE(timeSrc().now() - before, 2);
}

namespace {

// A clock stopped at one instant, whose pauses last until released.
class heldClock : public timeSource {
public:
    int64_t nowUs() override { return 42; }
    void sleepUs(int64_t) override
    {
        entered.set_value();
        released.get_future().wait();
    }
    std::promise<void> entered, released;
};

}  // namespace

TEST(TimeSource, GuardRestoresTheRealClock)
{
    {
        heldClock held;
        timeSourceGuard guard(&held);
        EXPECT_EQ(timeSrc().nowUs(), 42);
    }
    EXPECT_NEAR(static_cast<double>(timeSrc().now()), static_cast<double>(::time(nullptr)), 1.0);
}

// A source may be destroyed once replaced, while other threads use the clock: replacing it waits
// for the calls still inside it.
TEST(TimeSource, ReplacingASourceWaitsForItsCallsInProgress)
{
    auto held = std::make_unique<heldClock>();
    setTimeSource(held.get());
    std::thread pausing([] { timeSrc().sleepUs(1); });
    held->entered.get_future().wait();

    std::atomic<bool> replaced{false};
    std::thread replacing([&] {
        setTimeSource(nullptr);
        replaced = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(replaced);
    EXPECT_NE(timeSrc().nowUs(), 42);  // new calls already reach the real clock

    held->released.set_value();
    pausing.join();
    replacing.join();
    EXPECT_TRUE(replaced);
    held.reset();
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
