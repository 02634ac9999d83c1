#include "timeSource.h"

#include <gtest/gtest.h>

#include <chrono>

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
