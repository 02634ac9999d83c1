#include "str.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "timeSource.h"

using namespace pcudata;

namespace {

// Pins the process time zone for one test and puts the previous one back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* tz)
    {
        const char* old = std::getenv("TZ");
        hadOld = old != nullptr;
        if (hadOld) oldTz = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ZoneGuard()
    {
        if (hadOld)
            ::setenv("TZ", oldTz.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool hadOld = false;
    std::string oldTz;
};

class fixedClock : public timeSource {
public:
    explicit fixedClock(time_t t) : t(t) {}
    time_t now() override { return t; }
    time_t t;
};

const char* centralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
const time_t dec6_035200_utc = 1796529120;  // 2026-12-06 03:52:00 UTC

}  // namespace

TEST(StrParse, StoiReadsLeadingNumberAndReportsCharactersUsed)
{
    int32_t v = 0;
    size_t pos = 0;
    EXPECT_EQ(str::_stoi("42abc", v, &pos), 0);
    EXPECT_EQ(v, 42);
    EXPECT_EQ(pos, 2u);
    EXPECT_EQ(str::_stoi(" -7", v, &pos), 0);
    EXPECT_EQ(v, -7);
    EXPECT_EQ(pos, 3u);
    EXPECT_EQ(str::_stoi("-2147483648", v), 0);
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_EQ(str::_stoi("ff", v, nullptr, 16), 0);
    EXPECT_EQ(v, 255);
}

TEST(StrParse, StoiFailuresLeaveOutputAndPositionAlone)
{
    int32_t v = 123;
    size_t pos = 99;
    EXPECT_EQ(str::_stoi("abc", v, &pos), -1);
    EXPECT_EQ(str::_stoi("", v, &pos), -1);
    EXPECT_EQ(str::_stoi("-", v, &pos), -1);
    EXPECT_EQ(str::_stoi("99999999999", v, &pos), -2);
    EXPECT_EQ(str::_stoi("2147483648", v, &pos), -2);
    EXPECT_EQ(str::_stoi("-2147483649", v, &pos), -2);
    EXPECT_EQ(str::_stoi("12", v, &pos, 1), -3);
    EXPECT_EQ(v, 123);
    EXPECT_EQ(pos, 99u);
}

TEST(StrParse, StolCoversInt64AndDetectsOverflow)
{
    int64_t v = 5;
    EXPECT_EQ(str::_stol("99999999999", v), 0);
    EXPECT_EQ(v, 99999999999LL);
    EXPECT_EQ(str::_stol("-9223372036854775808", v), 0);
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_EQ(str::_stol("9223372036854775808", v), -2);
    EXPECT_EQ(str::_stol("-9223372036854775809", v), -2);
    EXPECT_EQ(str::_stol("x1", v), -1);
    EXPECT_EQ(v, INT64_MIN);
}

TEST(StrParse, ParsingKeepsTheCallersErrno)
{
    int32_t v = 0;
    errno = 16;
    str::_stoi("99999999999", v);
    EXPECT_EQ(errno, 16);
}

TEST(StrFormat, Dbl2strRoundsAsStreamsDo)
{
    EXPECT_EQ(str::dbl2str(12.3456, 2), "12.35");
    EXPECT_EQ(str::dbl2str(5, 3), "5.000");
    EXPECT_EQ(str::dbl2str(2.5, 0), "2");
    EXPECT_EQ(str::dbl2str(3.5, 0), "4");
    EXPECT_EQ(str::dbl2str(-0.004, 2), "-0.00");
    EXPECT_EQ(str::dbl2str(12.5, 2), "12.50");
}

TEST(StrFormat, FormatLongTimeSpellsEveryUnitOnceALargerOneIsPresent)
{
    EXPECT_EQ(str::formatLongTime(0), "0 secs");
    EXPECT_EQ(str::formatLongTime(59), "59 secs");
    EXPECT_EQ(str::formatLongTime(61), "1 min 1 secs");
    EXPECT_EQ(str::formatLongTime(3600), "1 hrs 0 min 0 secs");
    EXPECT_EQ(str::formatLongTime(86400), "1 day 0 hrs 0 min 0 secs");
    EXPECT_EQ(str::formatLongTime(90061), "1 day 1 hrs 1 min 1 secs");
    EXPECT_EQ(str::formatLongTime(172800), "2 days 0 hrs 0 min 0 secs");
    EXPECT_EQ(str::formatLongTime(static_cast<const int32_t*>(nullptr)), "");
}

TEST(StrFormat, FillPadsUpToWidthButNeverPast256)
{
    EXPECT_EQ(str::str_left_fill("7", 3, '0'), "007");
    EXPECT_EQ(str::str_right_fill("7", 3, '.'), "7..");
    EXPECT_EQ(str::str_left_fill("abcd", 2, '0'), "abcd");
    EXPECT_EQ(str::str_left_fill("ab", -5, '0'), "ab");
    EXPECT_EQ(str::str_left_fill("x", 1000, '0').size(), 256u);
    EXPECT_EQ(str::str_right_fill("x", 257, ' ').size(), 256u);
    const std::string longer(300, 'a');
    EXPECT_EQ(str::str_right_fill(longer, 400, ' '), longer);
}

TEST(StrFormat, Str2boolAcceptsTheAffirmativePrefixesInAnyCase)
{
    for (const char* yes : {"yes", "TRUE", "On", "Enabled", "1", "10"})
        EXPECT_TRUE(str::str2bool(yes)) << yes;
    for (const char* no : {"", "no", "off", "false", "0", " yes", "disable"})
        EXPECT_FALSE(str::str2bool(no)) << no;
}

TEST(StrFormat, ValidUtf8ReplacesEveryByteOutsideAWellFormedSequence)
{
    const std::string bad = "\xEF\xBF\xBD";
    struct {
        std::string in, out;
    } rows[] = {
        {"", ""},
        {"АИ-92 \xF0\x9F\x98\x80 \x7F", "АИ-92 \xF0\x9F\x98\x80 \x7F"},  // valid text as it is
        {"\xC0\xC1\xF5\xFF", bad + bad + bad + bad},                     // never valid lead bytes
        {"\xC0\xAF", bad + bad},                                         // overlong "/"
        {"\xE0\x80\xAF", bad + bad + bad},                               // overlong, three bytes
        {"\xED\xA0\x80", bad + bad + bad},                               // a surrogate
        {"\xF4\x90\x80\x80", bad + bad + bad + bad},                     // above U+10FFFF
        {"x\xD0", "x" + bad},                                            // cut at the end
        {"\xD0x\xD0\x9F", bad + "x\xD0\x9F"},                            // cut, then valid
        {"\xC0\xEB\xEA", bad + bad + bad},                               // Windows-1251 letters
    };
    for (const auto& r : rows) EXPECT_EQ(str::validUtf8(r.in), r.out) << r.in;
}

TEST(StrFormat, CaseMappingLeavesNonAsciiBytesAlone)
{
    std::string s = "ab\xd0\x9f-Z";
    str::toUpper(s);
    EXPECT_EQ(s, "AB\xd0\x9f-Z");
    str::toLower(s);
    EXPECT_EQ(s, "ab\xd0\x9f-z");
    std::wstring w = L"Pump7";
    str::toUpper(w);
    EXPECT_EQ(w, L"PUMP7");
    str::toLower(w);
    EXPECT_EQ(w, L"pump7");
}

TEST(StrTimestamp, DateTimeIsNormalisedAndFractionCut)
{
    EXPECT_EQ(str::str_to_timestamp("2026-12-06T03:52:00.123456Z", 3), "2026-12-06 03:52:00.123");
    EXPECT_EQ(str::str_to_timestamp("2026-12-06 03:52:00.12", 6), "2026-12-06 03:52:00.12");
    EXPECT_EQ(str::str_to_timestamp("2026-12-06T03:52:00+03:00", 3), "2026-12-06 03:52:00");
    EXPECT_EQ(str::str_to_timestamp("at 2026-12-06T03:52:00Z, rev.7", 3), "2026-12-06 03:52:00.7");
}

TEST(StrTimestamp, FractionOnlyCountsAfterTheDateTime)
{
    EXPECT_EQ(str::str_to_timestamp("1.5 2026-12-06T03:52:00", 3), "2026-12-06 03:52:00");
    EXPECT_EQ(str::str_to_timestamp("2026-12-06T03:52:00. .42", 3), "2026-12-06 03:52:00.42");
}

TEST(StrTimestamp, ZeroDigitsLeavesNoBarePoint)
{
    EXPECT_EQ(str::str_to_timestamp("2026-12-06T03:52:00.123", 0), "2026-12-06 03:52:00");
}

TEST(StrTimestamp, TextWithoutDateTimeIsReturnedUnchanged)
{
    EXPECT_EQ(str::str_to_timestamp("06.12.2026 03:52:00.1", 3), "06.12.2026 03:52:00.1");
    EXPECT_EQ(str::str_to_timestamp("2026-12-06X03:52:00", 3), "2026-12-06X03:52:00");
    EXPECT_EQ(str::str_to_timestamp("2026-12-06T03:52:0", 3), "2026-12-06T03:52:0");
    EXPECT_EQ(str::str_to_timestamp("", 3), "");
}

class StrLocalTime : public ::testing::Test {
protected:
    ZoneGuard zone{centralEurope};
};

TEST_F(StrLocalTime, DayStringsFollowTheLocalZone)
{
    EXPECT_EQ(str::time2DayStr(dec6_035200_utc), "20261206");
    const time_t lateUtc = 1796599800;  // 2026-12-06 23:30 UTC, already the 7th in Central Europe
    EXPECT_EQ(str::time2DayStr(lateUtc), "20261207");
    EXPECT_EQ(str::time2DayStr(static_cast<time_t>(-1)), "");
    EXPECT_EQ(str::time2DayStr(static_cast<const time_t*>(nullptr)), "");
}

TEST_F(StrLocalTime, ExtDateFormatsAndFillsInTheCurrentTime)
{
    time_t t = dec6_035200_utc;
    EXPECT_EQ(str::_mk_dmy_ExtDate(t), "06.12.2026 04:52:00");
    fixedClock clock(dec6_035200_utc);
    timeSourceGuard guard(&clock);
    t = 0;
    EXPECT_EQ(str::_mk_dmy_ExtDate(t), "06.12.2026 04:52:00");
    EXPECT_EQ(t, dec6_035200_utc);
    EXPECT_EQ(str::nowDateTime2Str(), "20261206045200");
    EXPECT_EQ(str::now2DayStr(), "20261206");
}

TEST_F(StrLocalTime, DaySecondsRoundTripToLocalMidnight)
{
    const int64_t midnight = str::str2daysecs("20261206");
    EXPECT_EQ(midnight, 1796511600);  // 2026-12-05 23:00 UTC
    EXPECT_EQ(str::time2DayStr(static_cast<time_t>(midnight)), "20261206");
    EXPECT_EQ(str::time2daysecs(dec6_035200_utc), midnight);
    fixedClock clock(dec6_035200_utc);
    timeSourceGuard guard(&clock);
    EXPECT_EQ(str::now2daysecs(), midnight);
}

TEST_F(StrLocalTime, SummerMidnightIsMidnightNotOneOClock)
{
    const int64_t midnight = str::str2daysecs(std::string("20260701"));
    EXPECT_EQ(midnight, 1782856800);  // 2026-06-30 22:00 UTC = 00:00 CEST
    const time_t noon = 1782900000;   // 2026-07-01 10:00 UTC
    EXPECT_EQ(str::time2daysecs(noon), midnight);
}

TEST_F(StrLocalTime, DaySecondsRejectMissingOrMalformedDays)
{
    EXPECT_EQ(str::str2daysecs(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(str::str2daysecs("garbage"), -1);
    EXPECT_EQ(str::str2daysecs("20261306"), -1);
    EXPECT_EQ(str::str2daysecs(""), -1);
    EXPECT_EQ(str::time2daysecs(static_cast<const time_t*>(nullptr)), -1);
}

TEST(StrBuffers, WideConversionsStayTerminatedAtTheirLimit)
{
    wchar_t* w = str::ctow("abcdef", 3);
    EXPECT_STREQ(w, L"abc");
    str::wfree(w);
    char* c = str::wtoc(L"abcdef", 3);
    EXPECT_STREQ(c, "abc");
    str::cfree(c);
    EXPECT_EQ(str::ctow(nullptr, 3), nullptr);
    EXPECT_EQ(str::wtoc(nullptr, 3), nullptr);
}

TEST(StrBuffers, UnconvertibleTextGivesAnEmptyUsableBuffer)
{
    // The tests run in the C locale, where Cyrillic bytes do not convert.
    wchar_t* w = str::str2wc(std::string("\xd0\x9f\xd0\xa2"));
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w, L"");
    str::wfree(w);
    EXPECT_EQ(str::str2wc(static_cast<const char*>(nullptr)), nullptr);
}
