// The answers' JSON text is the very text Poco's writer would make of the same object, whatever
// the members hold.
#include "compactJson.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <string>

namespace {

using Poco::JSON::Object;

std::string pocoText(const Object& o)
{
    std::ostringstream out;
    o.stringify(out);
    return out.str();
}

TEST(CompactJson, ThePingAnswerAsTheWriterMakesIt)
{
    Object ans;
    ans.set("statusId", 3);
    ans.set("Description", "Исходное состояние ТРК, пистолет повешен");
    ans.set("Status", "Free");
    EXPECT_EQ(
        azs_apps::compactJson(ans),
        "{\"Description\":\"Исходное состояние ТРК, пистолет повешен\",\"Status\":\"Free\",\"statusId\":3}");
}

TEST(CompactJson, EveryByteInAKeyOrAStringComesOutAsPocoWritesIt)
{
    for (int b = 0; b < 256; ++b) {
        const std::string s = std::string("a") + static_cast<char>(b) + "z";
        Object o;
        o.set(s, s);
        o.set("k", std::string(1, static_cast<char>(b)));
        ASSERT_EQ(azs_apps::compactJson(o), pocoText(o)) << "byte " << b;
    }
}

TEST(CompactJson, ValuesOfEveryKindComeOutAsPocoWritesThem)
{
    Object::Ptr inner = new Object;
    inner->set("x", "/path");
    Poco::JSON::Array::Ptr list = new Poco::JSON::Array;
    list->add(1);
    list->add("two");
    list->add(inner);

    Object o;
    o.set("int", -17);
    o.set("int64", static_cast<Poco::Int64>(std::numeric_limits<Poco::Int64>::min()));
    o.set("unsigned", 4000000000u);
    o.set("litre", 12.345);
    o.set("sum", 0.1);
    o.set("whole", 10.0);
    o.set("big", 1e21);
    o.set("yes", true);
    o.set("no", false);
    o.set("char", 'c');
    o.set("empty", Poco::Dynamic::Var());
    o.set("emptyString", "");
    o.set("", "empty name");
    o.set("quote", "say \"hi\"\\ \t\n\r\b\f \x7f");
    o.set("object", inner);
    o.set("objectValue", *inner);
    o.set("array", list);
    EXPECT_EQ(azs_apps::compactJson(o), pocoText(o));
    EXPECT_EQ(azs_apps::compactJson(Object()), "{}");
}

TEST(CompactJson, ObjectsWithOtherWritingRulesAreWrittenByPoco)
{
    Object ordered(Poco::JSON_PRESERVE_KEY_ORDER);
    ordered.set("z", 1);
    ordered.set("a", "ТРК");
    EXPECT_EQ(azs_apps::compactJson(ordered), pocoText(ordered));
    EXPECT_EQ(azs_apps::compactJson(ordered), "{\"z\":1,\"a\":\"ТРК\"}");

    Object escaping;
    escaping.setEscapeUnicode(true);
    escaping.set("a", "ТРК");
    EXPECT_EQ(azs_apps::compactJson(escaping), pocoText(escaping));
}

}  // namespace
