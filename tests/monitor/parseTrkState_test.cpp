// The stand-alone pump line parser of the library.
#include <gtest/gtest.h>

#include <cstring>

#include "parseTrkState.h"

using namespace pcudata;

namespace {

class ParseToTrkState : public ::testing::Test {
protected:
    void SetUp() override { trkState_clear(rec); }
    trkState_t rec{};
};

TEST_F(ParseToTrkState, ReadsEveryGroup)
{
    ASSERT_EQ(parse_to_trkstate("T3,1;S7,0,1;I15;A12340,5678;N2{X};W9{Stop}", rec), 0);
    EXPECT_EQ(rec.trk, 3);
    EXPECT_EQ(rec.trkParam1, 1);
    EXPECT_EQ(rec.status, 7);
    EXPECT_EQ(rec.needPayFlag, 1);
    EXPECT_EQ(rec.trannum, 15);
    EXPECT_EQ(rec.volume, 12340);
    EXPECT_EQ(rec.amount, 5678);
    EXPECT_EQ(rec.prodCode, 2);
    EXPECT_STREQ(rec.prodName, "X");
    EXPECT_EQ(rec.wCode, 9);
    EXPECT_STREQ(rec.wText, "Stop");
}

TEST_F(ParseToTrkState, PresetValuesAre64BitAndLaterTGroupsCount)
{
    ASSERT_EQ(parse_to_trkstate("T3;P5000000000,2;T4", rec), 0);
    EXPECT_EQ(rec.presetVolume, 5000000000LL);
    EXPECT_EQ(rec.presetParam1, 2);
    EXPECT_EQ(rec.trk, 4);
}

TEST_F(ParseToTrkState, NumberTextFormsAndTextReset)
{
    std::strcpy(rec.prodName, "old");
    ASSERT_EQ(parse_to_trkstate("T1;N7", rec), 0);
    EXPECT_EQ(rec.prodCode, 7);
    EXPECT_STREQ(rec.prodName, "") << "the text is emptied first";
    ASSERT_EQ(parse_to_trkstate("T1;W5{open to the end,2", rec), 0);
    EXPECT_EQ(rec.wCode, 5);
    EXPECT_STREQ(rec.wText, "open to the end") << "only the first comma-separated value counts";
    ASSERT_EQ(parse_to_trkstate("T1;N8{" + std::string(300, 'y') + "}", rec), 0);
    EXPECT_EQ(std::strlen(rec.prodName), 119u);
}

TEST_F(ParseToTrkState, RejectsLinesThatAreNotPumpLines)
{
    EXPECT_EQ(parse_to_trkstate("", rec), -1);
    EXPECT_EQ(parse_to_trkstate("D1,2", rec), -1);
    EXPECT_EQ(rec.trk, 0);
}

}  // namespace
