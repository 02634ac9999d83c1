// Query strings and URL-encoded bodies read to the very fields Poco's HTMLForm reads from them,
// the common text by our own reader and the unusual one by HTMLForm.
#include "formFields.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTMLForm.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every name asked for gives what HTMLForm gives (empty when absent).
void expectAsHtmlForm(const std::string& text, const std::vector<std::string>& names)
{
    Poco::Net::HTMLForm html;
    try {
        html.read(text);
    } catch (const Poco::Exception&) {
    }
    azs_apps::formFields fields;
    fields.read(text);
    for (const std::string& name : names)
        EXPECT_EQ(fields.get(name), html.get(name, "")) << "text \"" << text << "\", name \"" << name << "\"";
}

std::string manyFields(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += (i ? "&f" : "f") + std::to_string(i) + "=" + std::to_string(i);
    return text;
}

TEST(FormFields, TextsReadAsHtmlFormReadsThem)
{
    const std::vector<std::string> names = {"apikey", "APIKEY", "columnId", "columnid", "a",   "A",   "b",
                                            "c",      "",       " a ",      "a b",      "+",   "&",   "=",
                                            "ТРК",    "трк",    "f0",       "f49",      "f50", "f99", "f100"};
    const std::vector<std::string> texts = {
        "apikey=demo-client,demo-server,demo-station&columnId=1",
        "apikey=c%2Cs%2Caz&columnId=%207",
        "a=1&A=2&a=3",
        "A=1&a=2",
        "a=1&&b=2",
        "&",
        "=",
        "a",
        "a=",
        "=v",
        "a=b=c",
        "a=1&",
        "+a+=+b+",
        "%61%3d=%2B%26%3D&b=%c3%A9",
        "%D0%A2%D0%A0%D0%9A=7&трк=8",
        "%zz=1&b=2",
        "a=1&b=%4",
        "a=1&b=%",
        "a=1&b=%g0&c=3",
        "a=1%",
        "\xef\xbb\xbf"
        "a=1&b=2",
        "a=\xef\xbb\xbf",
        manyFields(50),
        manyFields(51),
        manyFields(100),
        manyFields(101),
        "a=" + std::string(999, 'v') + "&b=1",
        "a=" + std::string(1500, 'v') + "&b=1",
        std::string(1500, 'n') + "=1&a=2",
        "a=" + std::string(300000, 'v') + "&b=1",
        "",
    };
    for (const std::string& text : texts) expectAsHtmlForm(text, names);
}

TEST(FormFields, EveryByteInANameOrAValueReadsAsHtmlFormReadsIt)
{
    for (int b = 0; b < 256; ++b) {
        const std::string c(1, static_cast<char>(b));
        expectAsHtmlForm("n" + c + "=v" + c + "&a=" + c, {"n" + c, "a"});
    }
}

TEST(FormFields, AssignedFieldsAreFoundLikeReadOnes)
{
    Poco::Net::NameValueCollection read;
    read.add("Name", "first");
    read.add("name", "second");
    azs_apps::formFields fields;
    fields.read("other=1");
    fields.assign(read);
    EXPECT_EQ(fields.get("NAME"), "first");
    EXPECT_EQ(fields.get("other"), "");
}

}  // namespace
