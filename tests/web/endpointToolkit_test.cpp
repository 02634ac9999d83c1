// What every endpoint stands on: the typed reading of a JSON body and the key check.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "apiKeys.h"
#include "jsonBody.h"

namespace {

using azs_apps::apiKeys;
using azs_apps::jsonBody;

TEST(JsonBody, ParseResults)
{
    struct row {
        std::string raw;
        int err;
        bool present;
    } rows[] = {
        {"", jsonBody::EMPTY_BODY, false},
        {"{", jsonBody::NOT_JSON, false},
        {"{\"a\":1} trailing", jsonBody::NOT_JSON, false},
        {"{\"a\":1}{}", jsonBody::NOT_JSON, false},
        {"{\"a\":1}  \n", 0, true},
        {"[1,2]", 0, true},
        {"null", 0, false},
        {" 5 ", 0, true},
        {"\"s\"", 0, true},
        {"1,2", jsonBody::NOT_JSON, false},
        {"{\"a\":1}]", jsonBody::NOT_JSON, false},
        {"]", jsonBody::NOT_JSON, false},
    };
    for (const row& r : rows) {
        jsonBody b;
        EXPECT_EQ(b.parse(r.raw), r.err) << r.raw;
        EXPECT_EQ(b.present(), r.present) << r.raw;
    }
}

// Integer fields take integral numbers that fit 32 bits; anything else is absent.
TEST(JsonBody, IntegerFieldTypes)
{
    struct row {
        std::string value;
        int32_t expected;
    } rows[] = {
        {"3", 3},           {"3.0", 3},          {"-7", -7},    {"\"3\"", -1}, {"true", -1},
        {"3.5", -1},        {"null", -1},        {"{}", -1},    {"[3]", -1},   {"2147483647", 2147483647},
        {"2147483648", -1}, {"-2147483649", -1}, {"1e3", 1000}, {"1e20", -1},
    };
    for (const row& r : rows) {
        jsonBody b;
        ASSERT_EQ(b.parse("{\"trk\":" + r.value + "}"), 0) << r.value;
        EXPECT_EQ(b.getInt("trk", -1), r.expected) << r.value;
    }
}

TEST(JsonBody, RealTextAndFlagFieldTypes)
{
    jsonBody b;
    ASSERT_EQ(b.parse("{\"p\":52.5,\"i\":3,\"s\":\"52.5\",\"t\":true,\"n\":null,\"o\":{\"x\":1},"
                      "\"u\":\"Заказ\"}"),
              0);
    EXPECT_DOUBLE_EQ(b.getDouble("p", 0), 52.5);
    EXPECT_DOUBLE_EQ(b.getDouble("i", 0), 3.0);
    EXPECT_DOUBLE_EQ(b.getDouble("s", 0), 0.0);
    EXPECT_DOUBLE_EQ(b.getDouble("t", 0), 0.0);
    EXPECT_DOUBLE_EQ(b.getDouble("missing", -1), -1.0);
    EXPECT_EQ(b.getString("s", "d"), "52.5");
    EXPECT_EQ(b.getString("p", "d"), "d");
    EXPECT_EQ(b.getString("n", "d"), "d");
    EXPECT_EQ(b.getString("u", ""), "Заказ");
    EXPECT_TRUE(b.getBool("t", false));
    EXPECT_TRUE(b.getBool("i", true));  // 1-like numbers are not flags
    EXPECT_FALSE(b.getBool("s", false));
}

TEST(JsonBody, NonObjectBodyHasNoFields)
{
    jsonBody b;
    ASSERT_EQ(b.parse("[{\"trk\":3}]"), 0);
    EXPECT_EQ(b.getInt("trk", -1), -1);
    EXPECT_EQ(b.getString("trk", "x"), "x");
    EXPECT_EQ(b.text(), "[{\"trk\":3}]");
}

TEST(ApiKeys, PartsAndVerdicts)
{
    struct row {
        std::string apikey;
        apiKeys::layout layout;
        apiKeys::verdict expected;
    } rows[] = {
        {"c,srv,st", apiKeys::withClient, apiKeys::ok},
        {"c,srv,st,extra", apiKeys::withClient, apiKeys::ok},
        {",srv,st", apiKeys::withClient, apiKeys::badClient},
        {"", apiKeys::withClient, apiKeys::badClient},
        {"c", apiKeys::withClient, apiKeys::badServer},
        {"c,SRV,st", apiKeys::withClient, apiKeys::badServer},
        {"c,srv", apiKeys::withClient, apiKeys::badStation},
        {"c,srv,", apiKeys::withClient, apiKeys::badStation},
        {"c,srv,s", apiKeys::withClient, apiKeys::badStation},
        {"c,srv,stt", apiKeys::withClient, apiKeys::badStation},
        {"srv,st", apiKeys::stationOnly, apiKeys::ok},
        {"st,srv", apiKeys::stationOnly, apiKeys::badServer},
        {"srv", apiKeys::stationOnly, apiKeys::badStation},
        {"c,srv,st", apiKeys::stationOnly, apiKeys::badServer},
    };
    for (const row& r : rows) {
        apiKeys k = apiKeys::parse(r.apikey, r.layout);
        EXPECT_EQ(k.check(r.layout, "srv", "st"), r.expected) << r.apikey;
    }
    apiKeys k = apiKeys::parse("a,,c", apiKeys::withClient);
    EXPECT_EQ(k.client, "a");
    EXPECT_EQ(k.server, "");
    EXPECT_EQ(k.station, "c");
}

// With no key configured, nothing passes, not even empty keys.
TEST(ApiKeys, EmptyConfiguredKeyNeverMatches)
{
    EXPECT_EQ(apiKeys::parse("c,,", apiKeys::withClient).check(apiKeys::withClient, "", ""),
              apiKeys::badServer);
    EXPECT_FALSE(azs_apps::sameKey("", ""));
    EXPECT_FALSE(azs_apps::sameKey("abc", ""));
    EXPECT_FALSE(azs_apps::sameKey("abcabc", "abc"));
    EXPECT_TRUE(azs_apps::sameKey("abc", "abc"));
}

}  // namespace
