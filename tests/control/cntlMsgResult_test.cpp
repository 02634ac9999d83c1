// Parsing of single controller reply lines, without sockets.
#include <gtest/gtest.h>

#include "cntlMsgResult.h"

using pcudata::cntlMsgResult;
using pcudata::parse_to_cntlres;

namespace {

class ReplyParse : public ::testing::Test {
protected:
    cntlMsgResult res;
    void SetUp() override { pcudata::cmdMsgResult_clear(res); }
};

TEST_F(ReplyParse, HeaderElementAndFinalSeparator)
{
    ASSERT_EQ(parse_to_cntlres("@0012REGM;RES=1;", res), 0);
    EXPECT_FALSE(res.empty);
    EXPECT_EQ(res.Cmd, "REGM");
    EXPECT_EQ(res.Len, "0012");
    EXPECT_EQ(res.Res, 1);
    ASSERT_EQ(res.vlist.size(), 1u);
    EXPECT_EQ(res.vlist[0].name, "RES");
    EXPECT_EQ(res.vlist[0].value, "1");
}

TEST_F(ReplyParse, NamedFieldsAndChecksumKeptInOrder)
{
    ASSERT_EQ(parse_to_cntlres("@0040PWORK;RES=4;TCOD=17;TXT=ТРК занята;$not-a-crc", res), 0);
    EXPECT_EQ(res.Res, 4);
    EXPECT_EQ(res.tcod, "17");
    EXPECT_EQ(res.txt, "ТРК занята");
    EXPECT_EQ(res.crc, "not-a-crc");
    ASSERT_EQ(res.vlist.size(), 3u);
    EXPECT_EQ(res.vlist[2].name, "TXT");
}

TEST_F(ReplyParse, EmptyLineLeavesRecordUntouched)
{
    res.Res = 7;
    res.Cmd = "KEEP";
    EXPECT_EQ(parse_to_cntlres("", res), -1);
    EXPECT_EQ(res.Res, 7);
    EXPECT_EQ(res.Cmd, "KEEP");
}

TEST_F(ReplyParse, NewLineReplacesPreviousContents)
{
    ASSERT_EQ(parse_to_cntlres("@0012REGM;RES=2;TXT=ждите;", res), 0);
    ASSERT_EQ(parse_to_cntlres("RES=1;", res), 0);
    EXPECT_EQ(res.Cmd, "");
    EXPECT_EQ(res.txt, "");
    EXPECT_EQ(res.vlist.size(), 1u);
}

TEST_F(ReplyParse, EmptyTokensAreSkipped)
{
    ASSERT_EQ(parse_to_cntlres("RES=1;;TCOD=3;", res), 0);
    EXPECT_EQ(res.vlist.size(), 2u);
    ASSERT_EQ(parse_to_cntlres(";", res), 0);
    EXPECT_FALSE(res.empty);
    EXPECT_TRUE(res.vlist.empty());
    EXPECT_EQ(res.Res, -1);
}

TEST_F(ReplyParse, NonNumericResDoesNotThrow)
{
    EXPECT_NO_THROW(EXPECT_EQ(parse_to_cntlres("@0012REGM;RES=abc;", res), 0));
    EXPECT_EQ(res.Res, -1);
    ASSERT_EQ(res.vlist.size(), 1u);
    EXPECT_EQ(res.vlist[0].value, "abc");
    EXPECT_NO_THROW(parse_to_cntlres("RES=99999999999;", res));
    EXPECT_EQ(res.Res, -1);
}

TEST_F(ReplyParse, ResAsTheStandardConversionReadsIt)
{
    ASSERT_EQ(parse_to_cntlres("RES= 2x;", res), 0);
    EXPECT_EQ(res.Res, 2);
    ASSERT_EQ(parse_to_cntlres("RES=-3;", res), 0);
    EXPECT_EQ(res.Res, -3);
}

TEST_F(ReplyParse, ShortHeaderTokens)
{
    ASSERT_EQ(parse_to_cntlres("@12;RES=1", res), 0);
    EXPECT_EQ(res.Len, "12");
    EXPECT_EQ(res.Cmd, "");
    ASSERT_EQ(parse_to_cntlres("@", res), 0);
    EXPECT_EQ(res.Len, "");
    ASSERT_EQ(parse_to_cntlres("@0012", res), 0);
    EXPECT_EQ(res.Len, "0012");
    EXPECT_EQ(res.Cmd, "");
}

TEST_F(ReplyParse, LaterHeaderReplacesEarlier)
{
    ASSERT_EQ(parse_to_cntlres("@0001AAAA;@0002BBBB", res), 0);
    EXPECT_EQ(res.Cmd, "BBBB");
    EXPECT_EQ(res.Len, "0002");
}

TEST_F(ReplyParse, NamesAreCaseSensitive)
{
    ASSERT_EQ(parse_to_cntlres("res=1;txt=x", res), 0);
    EXPECT_EQ(res.Res, -1);
    EXPECT_EQ(res.txt, "");
    EXPECT_EQ(res.vlist.size(), 2u);
}

}  // namespace
