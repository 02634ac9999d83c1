#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "runner.h"
#include "timeSource.h"

using namespace pcudata;

namespace {

class fixedClock : public timeSource {
public:
    explicit fixedClock(time_t t) : t(t) {}
    time_t now() override { return t; }
    time_t t;
};

const time_t dec6_035200_utc = 1796529120;  // 2026-12-06 03:52:00 UTC

}  // namespace

// Captures the four standard streams and pins the clock and the zone so that lines are exact.
class RunnerLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        hadTz = tz != nullptr;
        if (hadTz) oldTz = tz;
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        oldOut = std::cout.rdbuf(out.rdbuf());
        oldErr = std::cerr.rdbuf(err.rdbuf());
        oldWout = std::wcout.rdbuf(wout.rdbuf());
        oldWerr = std::wcerr.rdbuf(werr.rdbuf());
    }

    void TearDown() override
    {
        std::cout.rdbuf(oldOut);
        std::cerr.rdbuf(oldErr);
        std::wcout.rdbuf(oldWout);
        std::wcerr.rdbuf(oldWerr);
        runner::dLevel = 0;
        if (hadTz)
            ::setenv("TZ", oldTz.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

    bool nothingWritten() const
    {
        return out.str().empty() && err.str().empty() && wout.str().empty() && werr.str().empty();
    }

    fixedClock clock{dec6_035200_utc};
    timeSourceGuard guard{&clock};
    std::ostringstream out, err;
    std::wostringstream wout, werr;
    std::streambuf *oldOut = nullptr, *oldErr = nullptr;
    std::wstreambuf *oldWout = nullptr, *oldWerr = nullptr;
    bool hadTz = false;
    std::string oldTz;
};

TEST_F(RunnerLog, StandardDestinationsGetTheTimeStampedLine)
{
    runner::log("pump 3 online", runner::out);
    EXPECT_EQ(out.str(), "(2026-12-06 03:52:00): pump 3 online\n");
    EXPECT_TRUE(err.str().empty());
    runner::log("connect failed", runner::err);
    EXPECT_EQ(err.str(), "(2026-12-06 03:52:00): connect failed\n");
    EXPECT_EQ(out.str(), "(2026-12-06 03:52:00): pump 3 online\n");
}

TEST_F(RunnerLog, EmptyMessageWritesNothingAnywhere)
{
    runner::dLevel = 5;
    runner::log("", runner::out);
    runner::log("", runner::err);
    runner::log("", runner::debug1);
    runner::log("", runner::out, true);
    EXPECT_TRUE(nothingWritten());
}

TEST_F(RunnerLog, DebugDestinationsFollowTheLevel)
{
    runner::log("quiet", runner::debug2);
    EXPECT_TRUE(nothingWritten());
    runner::dLevel = 2;
    runner::log("loud", runner::debug2);
    EXPECT_EQ(out.str(), "(2026-12-06 03:52:00): loud\n");
    runner::log("too deep", runner::debug3);
    EXPECT_EQ(out.str(), "(2026-12-06 03:52:00): loud\n");
    EXPECT_TRUE(err.str().empty());
}

TEST_F(RunnerLog, UnknownDestinationsWriteNothing)
{
    runner::dLevel = 100;
    runner::log("seven", static_cast<runner::whereLog>(7));
    runner::log("negative", static_cast<runner::whereLog>(-1));
    EXPECT_TRUE(nothingWritten());
    runner::log("five", runner::debug5);
    EXPECT_EQ(out.str(), "(2026-12-06 03:52:00): five\n");
}

TEST_F(RunnerLog, WideLinesGoToTheWideStreams)
{
    runner::log("wide out", runner::out, true);
    runner::log("wide err", runner::err, true);
    EXPECT_EQ(wout.str(), L"(2026-12-06 03:52:00): wide out\n");
    EXPECT_EQ(werr.str(), L"(2026-12-06 03:52:00): wide err\n");
    EXPECT_TRUE(out.str().empty());
    EXPECT_TRUE(err.str().empty());
}

TEST_F(RunnerLog, WideLineThatDoesNotConvertIsDropped)
{
    // Cyrillic bytes do not convert in the C locale the tests run in.
    runner::log("\xd0\x9e\xd1\x88\xd0\xb8\xd0\xb1\xd0\xba\xd0\xb0", runner::out, true);
    EXPECT_TRUE(nothingWritten());
}
