#include "split.h"

#include <gtest/gtest.h>

using namespace pcudata;
using fields = std::vector<std::string>;

TEST(SplitChar, TrailingSeparatorAddsNoField)
{
    EXPECT_EQ(split("a,b,", ','), (fields{"a", "b"}));
    EXPECT_EQ(split(";", ';'), (fields{""}));
    EXPECT_EQ(split("", ';'), fields{});
}

TEST(SplitChar, LeadingAndInnerEmptyFieldsAreKept)
{
    EXPECT_EQ(split("a,,b", ','), (fields{"a", "", "b"}));
    EXPECT_EQ(split(",a", ','), (fields{"", "a"}));
    EXPECT_EQ(split(";;", ';'), (fields{"", ""}));
    EXPECT_EQ(split("T1,2;S3", ';'), (fields{"T1,2", "S3"}));
}

TEST(SplitString, TrailingDelimiterAddsAnEmptyField)
{
    EXPECT_EQ(split("a;;b;;", std::string(";;")), (fields{"a", "b", ""}));
    EXPECT_EQ(split("a|b|", std::string("|")), (fields{"a", "b", ""}));
    EXPECT_EQ(split("|a", std::string("|")), (fields{"", "a"}));
    EXPECT_EQ(split("", std::string("|")), fields{});
}

TEST(SplitString, WholeDelimiterIsMatchedLeftToRight)
{
    EXPECT_EQ(split("a;b;;c", std::string(";;")), (fields{"a;b", "c"}));
    EXPECT_EQ(split("aaa", std::string("aa")), (fields{"", "a"}));
}

TEST(SplitString, EmptyDelimiterKeepsTheTextWhole)
{
    EXPECT_EQ(split("a,b", std::string()), (fields{"a,b"}));
    EXPECT_EQ(split("", std::string()), fields{});
}

TEST(Split2v, ClearsTheCallersVectorAndRejectsNull)
{
    fields out{"stale", "values"};
    EXPECT_EQ(split2v("x;y", ';', &out), 0);
    EXPECT_EQ(out, (fields{"x", "y"}));
    EXPECT_EQ(split2v("", std::string("|"), &out), 0);
    EXPECT_TRUE(out.empty());
    out = {"stale"};
    EXPECT_EQ(split2v("p|q|", std::string("|"), &out), 0);
    EXPECT_EQ(out, (fields{"p", "q", ""}));
    EXPECT_EQ(split2v("x;y", ';', nullptr), -1);
    EXPECT_EQ(split2v("x;y", std::string(";"), nullptr), -1);
}
