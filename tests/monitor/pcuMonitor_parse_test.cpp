// Pump, controller and flag lines as the daemon publishes them into the shared table.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "monitorTestUtil.h"
#include "pcuMonitor.h"

using namespace pcudata;

namespace {

class MonitorParse : public ::testing::Test {
protected:
    void SetUp() override
    {
        mon.setIpcPath(key.path);
        ASSERT_EQ(mon.shmInit(), 0);
    }

    // Feeds one pump line the way the loop does: with a freshly cleared scratch state.
    int32_t feed(const std::string& line)
    {
        trkState_clear(state);
        return mon.parseTrkState_n(line, state);
    }
    trkState_t& rec(int n) { return *mon.getTrkState(n); }

    montest::tempKeyFile key;
    montest::manualClock clock;
    timeSourceGuard guard{&clock};
    pcuMonitor mon;
    trkState_t state{};
};

TEST_F(MonitorParse, LineFillsEveryGroupOfThePump)
{
    ASSERT_EQ(feed("T3,1,2,3;S7,1,1,20,21,2;P10000,1,2,3,2,5;I15;A12340,5678;N2{Diesel};W4{Warn}"), 0);
    const trkState_t& r = rec(3);
    EXPECT_EQ(r.trk, 3);
    EXPECT_EQ(r.trkParam1, 1);
    EXPECT_EQ(r.trkParam3, 3);
    EXPECT_EQ(r.status, 7);
    EXPECT_EQ(r.prevStatus, -1);
    EXPECT_EQ(r.needPayFlag, 1);
    EXPECT_EQ(r.payWplace, 20);
    EXPECT_EQ(r.lockWplace, 21);
    EXPECT_EQ(r.lockType, 2);
    EXPECT_EQ(r.presetVolume, 10000);
    EXPECT_EQ(r.presetFlags, 2);
    EXPECT_EQ(r.presetParam5, 5);
    EXPECT_EQ(r.trannum, 15);
    EXPECT_EQ(r.volume, 12340);
    EXPECT_EQ(r.amount, 5678);
    EXPECT_EQ(r.prodCode, 2);
    EXPECT_STREQ(r.prodName, "Diesel");
    EXPECT_EQ(r.wCode, 4);
    EXPECT_STREQ(r.wText, "Warn");
    EXPECT_EQ(rec(2).trk, 0) << "other pumps stay unpublished";
}

TEST_F(MonitorParse, LaterLinesMergeWithWhatWasPublished)
{
    ASSERT_EQ(feed("T5,9;S7;A100,200;N2{AI-95}"), 0);
    ASSERT_EQ(feed("T5;S8"), 0);
    EXPECT_EQ(rec(5).status, 8);
    EXPECT_EQ(rec(5).prevStatus, 7);
    EXPECT_EQ(rec(5).volume, 100);
    EXPECT_EQ(rec(5).trkParam1, 9) << "a T parameter the line does not give is kept";
    EXPECT_STREQ(rec(5).prodName, "AI-95");
    EXPECT_EQ(state.status, 8);
    EXPECT_EQ(state.volume, 100);
}

TEST_F(MonitorParse, TwoStatusGroupsInOneLineChainPrevStatus)
{
    ASSERT_EQ(feed("T5;S3;S7"), 0);
    EXPECT_EQ(rec(5).status, 7);
    EXPECT_EQ(rec(5).prevStatus, 3);
}

TEST_F(MonitorParse, EmptyNumberTextGroupsChangeNothing)
{
    ASSERT_EQ(feed("T5;N2{AI-92};W3{Text}"), 0);
    ASSERT_EQ(feed("T5;N;W"), 0);
    EXPECT_EQ(rec(5).prodCode, 2);
    EXPECT_STREQ(rec(5).prodName, "AI-92");
    EXPECT_EQ(rec(5).wCode, 3);
    EXPECT_STREQ(rec(5).wText, "Text");
    ASSERT_EQ(feed("T5;N6{}"), 0);
    EXPECT_EQ(rec(5).prodCode, 6);
    EXPECT_STREQ(rec(5).prodName, "AI-92") << "empty braces keep the text";
}

TEST_F(MonitorParse, LongTextIsCutTo119Bytes)
{
    ASSERT_EQ(feed("T1;N1{" + std::string(200, 'x') + "}"), 0);
    EXPECT_EQ(std::strlen(rec(1).prodName), 119u);
}

TEST_F(MonitorParse, PresetValuesAre32BitNumbers)
{
    ASSERT_EQ(feed("T1;P5000,1"), 0);
    ASSERT_EQ(feed("T1;P5000000000,7"), 0);
    EXPECT_EQ(rec(1).presetVolume, 5000) << "out of 32-bit range: skipped";
    EXPECT_EQ(rec(1).presetParam1, 7);
}

TEST_F(MonitorParse, NumbersFollowTheLibraryConversionRules)
{
    ASSERT_EQ(feed("T 7;S 8x, 3,-2;A1234567890123456789,+12;I99999999999"), 0);
    EXPECT_EQ(rec(7).status, 8) << "leading blanks and trailing characters";
    EXPECT_EQ(rec(7).statusAux, 3);
    EXPECT_EQ(rec(7).needPayFlag, -2);
    EXPECT_EQ(rec(7).volume, 1234567890123456789LL) << "19 digits still fit 64 bits";
    EXPECT_EQ(rec(7).amount, 12);
    EXPECT_EQ(rec(7).trannum, -1) << "out of the 32-bit range: skipped";
    ASSERT_EQ(feed("T7;S-;A99999999999999999999"), 0);
    EXPECT_EQ(rec(7).status, 8);
    EXPECT_EQ(rec(7).volume, 1234567890123456789LL);
}

TEST_F(MonitorParse, BadPumpNumbersAreRejected)
{
    for (const char* line : {"T33;S3", "T0", "Tx", "T-1;S3"}) {
        EXPECT_EQ(feed(line), -1) << line;
        EXPECT_EQ(mon.getLastError(), EINVAL) << line;
    }
    EXPECT_EQ(feed(""), -1);
    EXPECT_EQ(feed("S3;T1"), -1);
    for (int n = 1; n <= TRK_COUNT; ++n) EXPECT_EQ(rec(n).status, -1);
}

TEST_F(MonitorParse, NothingIsParsedWithoutTheSegment)
{
    pcuMonitor detached;
    EXPECT_EQ(detached.parseTrkState_n("T1;S3", state), -1);
    EXPECT_EQ(detached.getLastError(), EFAULT);
    EXPECT_EQ(detached.parsePcuStatus("D1"), -1);
    EXPECT_EQ(detached.parseTrkBitFlags("E0,1"), -1);
    EXPECT_EQ(detached.getLastError(), EFAULT);
}

TEST_F(MonitorParse, WebTagIsNeverOverwritten)
{
    trkState_t& r = rec(4);
    r.tagged = 1;
    std::strcpy(r.orderId, "order-1");
    std::strcpy(r.clientKey, "client");
    r.tagTime = 1234;
    r.blocked = 1;
    ASSERT_EQ(feed("T4;S7;I3;A500,600"), 0);
    EXPECT_EQ(r.tagged, 1);
    EXPECT_STREQ(r.orderId, "order-1");
    EXPECT_STREQ(r.clientKey, "client");
    EXPECT_EQ(r.tagTime, 1234);
    EXPECT_EQ(r.blocked, 1);
    EXPECT_EQ(state.tagged, 1) << "the caller sees the tag with the merged state";
    EXPECT_STREQ(state.orderId, "order-1");
    EXPECT_EQ(r.lock, TRK_LOCK_FREE);
}

// The controller repeats lines; a repeat must not be published again nor mark progress.
class MonitorRepeat : public MonitorParse {};

TEST_F(MonitorRepeat, SameLineIsNotPublishedTwice)
{
    ASSERT_EQ(feed("T2;S7;A100,1"), 0);
    rec(2).volume = 999;  // would be overwritten by a second publication
    rec(2).notifyDue = 0;
    clock.advanceSec(10);
    ASSERT_EQ(feed("T2;S7;A100,1"), 0);
    EXPECT_EQ(rec(2).volume, 999);
    EXPECT_EQ(rec(2).notifyDue, 0);
    EXPECT_EQ(state.volume, 999) << "the caller still gets the merged state";
    ASSERT_EQ(feed("T2;S7;A101,1"), 0);
    EXPECT_EQ(rec(2).volume, 101);
}

TEST_F(MonitorRepeat, BarePumpLineRepublishesUnchanged)
{
    ASSERT_EQ(feed("T5;S7;A100,1;P300"), 0);
    ASSERT_EQ(feed("T5"), 0);
    EXPECT_EQ(rec(5).status, 7);
    EXPECT_EQ(rec(5).volume, 100);
    EXPECT_EQ(rec(5).presetVolume, 300);
}

// A repeat is the same line to the last byte, NUL bytes and length included.
TEST_F(MonitorRepeat, LineThatOnlyLooksLikeThePreviousOneIsPublished)
{
    const std::string longLine = "T4;S7;A1000,1;W1{" + std::string(1100, 'x') + "}";
    struct {
        std::string previous, line;
        int32_t status;
        int64_t volume;
    } cases[] = {
        {std::string("T4;S7\0;S8", 9), "T4;S7", 7, 0},  // ends where the previous line had a NUL
        {longLine, longLine.substr(0, 1023), 7, 1000},  // the start of a line too long to keep
    };
    for (const auto& c : cases) {
        ASSERT_EQ(feed(c.previous), 0);
        rec(4).status = -1;
        rec(4).volume = 0;
        ASSERT_EQ(feed(c.line), 0);
        EXPECT_EQ(rec(4).status, c.status) << c.line.size();
        EXPECT_EQ(rec(4).volume, c.volume) << c.line.size();
    }
}

TEST_F(MonitorRepeat, LineDroppedOnAHeldLockIsPublishedOnItsRepeat)
{
    rec(6).lock = TRK_LOCK_HELD;  // the web service holds the pump
    ASSERT_EQ(feed("T6;S3"), 0);
    EXPECT_EQ(rec(6).status, -1) << "dropped after the daemon's lock wait";
    EXPECT_EQ(rec(6).lock, TRK_LOCK_HELD) << "someone else's lock is left alone";
    rec(6).lock = TRK_LOCK_FREE;
    ASSERT_EQ(feed("T6;S3"), 0);
    EXPECT_EQ(rec(6).status, 3);
}

// Progress marks tell the web service that a volume report is due, at most every 3 seconds.
class MonitorProgress : public MonitorParse {};

TEST_F(MonitorProgress, FirstLineOfAFreshRecordMarks)
{
    ASSERT_EQ(feed("T1;S7"), 0);
    EXPECT_EQ(rec(1).notifyDue, 1);
    EXPECT_EQ(rec(1).notifyTime, static_cast<int32_t>(clock.now()));
    EXPECT_EQ(state.notifyDue, 1);
}

TEST_F(MonitorProgress, PendingMarkIsLeftAlone)
{
    ASSERT_EQ(feed("T1;S7;A1,1"), 0);
    const int32_t first = rec(1).notifyTime;
    clock.advanceSec(10);
    ASSERT_EQ(feed("T1;S7;A2,1"), 0);
    EXPECT_EQ(rec(1).notifyTime, first);
    EXPECT_EQ(rec(1).notifyDue, 1);
}

TEST_F(MonitorProgress, NewMarkOnlyAfterTheInterval)
{
    ASSERT_EQ(feed("T1;S7;A1,1"), 0);
    rec(1).notifyDue = 0;  // the web service reported it
    clock.advanceSec(3);
    ASSERT_EQ(feed("T1;S7;A2,1"), 0);
    EXPECT_EQ(rec(1).notifyDue, 0) << "3 s is not more than the interval";
    clock.advanceSec(1);
    ASSERT_EQ(feed("T1;S7;A3,1"), 0);
    EXPECT_EQ(rec(1).notifyDue, 1);
    EXPECT_EQ(rec(1).notifyTime, static_cast<int32_t>(clock.now()));
}

// E and Y lines carry one bit per pump.
class MonitorBitFlags : public MonitorParse {};

TEST_F(MonitorBitFlags, KindSelectsTheField)
{
    ASSERT_EQ(mon.parseTrkBitFlags("E0,5"), 0);
    ASSERT_EQ(mon.parseTrkBitFlags("E2,5"), 0);
    for (int n = 1; n <= TRK_COUNT; ++n) {
        const int expected = (n == 1 || n == 3) ? 1 : 0;
        EXPECT_EQ(rec(n).autoStart, expected) << n;
        EXPECT_EQ(rec(n).flagE2, expected) << n;
        EXPECT_EQ(rec(n).autoCafe, 0) << n;
    }
    ASSERT_EQ(mon.parseTrkBitFlags("E1,0"), 0);
    EXPECT_EQ(rec(1).autoStart, 1) << "other kinds change nothing";
    EXPECT_EQ(rec(1).flagE2, 1);
    ASSERT_EQ(mon.parseTrkBitFlags("E0,0"), 0);
    EXPECT_EQ(rec(1).autoStart, 0);
}

TEST_F(MonitorBitFlags, HighestBitBelongsToPump32)
{
    ASSERT_EQ(mon.parseTrkBitFlags("Y0,0,0,-2147483648"), 0);
    for (int n = 1; n < TRK_COUNT; ++n) EXPECT_EQ(rec(n).autoCafe, 0) << n;
    EXPECT_EQ(rec(32).autoCafe, 1);
    ASSERT_EQ(mon.parseTrkBitFlags("Y0,0,0,2147483648"), 0);
    EXPECT_EQ(rec(32).autoCafe, 1) << "an out-of-range mask does not convert";
    EXPECT_EQ(rec(1).autoCafe, 0);
}

TEST_F(MonitorBitFlags, MalformedLinesAreRejected)
{
    EXPECT_EQ(mon.parseTrkBitFlags("E"), -1);
    EXPECT_EQ(mon.parseTrkBitFlags("T1"), -1);
    EXPECT_EQ(mon.parseTrkBitFlags(""), -1);
}

TEST_F(MonitorBitFlags, LockedPumpKeepsItsBit)
{
    rec(2).lock = TRK_LOCK_HELD;
    ASSERT_EQ(mon.parseTrkBitFlags("E0,3"), 0);
    EXPECT_EQ(rec(1).autoStart, 1);
    EXPECT_EQ(rec(2).autoStart, 0);
    EXPECT_EQ(rec(2).lock, TRK_LOCK_HELD);
}

TEST(MonitorStatusLine, FillsTheControllerBlock)
{
    montest::tempKeyFile key;
    pcuMonitor mon;
    mon.setIpcPath(key.path);
    ASSERT_EQ(mon.shmInit(), 0);
    ASSERT_EQ(mon.parsePcuStatus("D1,ab,cd,2,3,4,5,6"), 0);
    const pcuStatus_t& st = *mon.getPcuStatus();
    EXPECT_EQ(st.drvState, 1);
    EXPECT_STREQ(st.drvText1, "ab");
    EXPECT_STREQ(st.drvText2, "cd");
    EXPECT_EQ(st.drvParam3, 2);
    EXPECT_EQ(st.drvParam6, 5);
    EXPECT_EQ(st.drvVersion, 6);
    ASSERT_EQ(mon.parsePcuStatus("D,abcdefghijkl,,x"), 0);
    EXPECT_STREQ(st.drvText1, "abcdefghi");
    EXPECT_STREQ(st.drvText2, "cd") << "empty values are skipped";
    EXPECT_EQ(st.drvState, 1);
    EXPECT_EQ(st.drvParam3, 2) << "values that do not convert are skipped";
    EXPECT_EQ(mon.parsePcuStatus("T1"), -1);
    EXPECT_EQ(mon.parsePcuStatus("D"), -1);
}

}  // namespace
