// What log texts become in the file: valid, printable UTF-8 with one message per line, whatever
// bytes a request put into them.
#include "logEscape.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using azs_apps::weblog::escaped;

struct escapeCase {
    const char* name;
    std::string text;
    std::string written;
};

TEST(LogEscape, EveryByteThatIsNotPrintableUtf8IsEscaped)
{
    const std::vector<escapeCase> cases = {
        {"ASCII and tab stay", "a b\tc ~", "a b\tc ~"},
        {"Cyrillic stays", "ТРК 'Ёё'", "ТРК 'Ёё'"},
        {"three- and four-byte characters stay", "€ 😀 \xe2\x80\xa9x", "€ 😀 \\u2029x"},
        {"line breaks", "a\nb\rc", "a\\nb\\rc"},
        {"other C0 controls and DEL", std::string("\x00\x01\x1b[31m\x7f", 8), "\\x00\\x01\\x1b[31m\\x7f"},
        {"C1 controls",
         "a\xc2\x85"
         "b\xc2\x80\xc2\x9f",
         "a\\u0085b\\u0080\\u009f"},
        {"the first character after C1 stays", "\xc2\xa0", "\xc2\xa0"},
        {"line and paragraph separators",
         "a\xe2\x80\xa8"
         "b\xe2\x80\xa9",
         "a\\u2028b\\u2029"},
        {"marks that reorder text", "\xe2\x80\xae\xe2\x81\xa6\xe2\x80\x8f", "\\u202e\\u2066\\u200f"},
        {"byte order mark", "\xef\xbb\xbfx", "\\ufeffx"},
        {"decoded %FF3",
         "columnId=\xff"
         "3",
         "columnId=\\xff3"},
        {"stray continuation byte", "a\x80z", "a\\x80z"},
        {"truncated sequence at the end", "a\xd0", "a\\xd0"},
        {"truncated sequence before ASCII", "\xe2\x82z", "\\xe2\\x82z"},
        {"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
        {"overlong three-byte form", "\xe0\x80\xaf", "\\xe0\\x80\\xaf"},
        {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"lead byte F5", "\xf5\x80", "\\xf5\\x80"},
        {"empty", "", ""},
    };
    for (const escapeCase& c : cases) EXPECT_EQ(escaped(c.text), c.written) << c.name;
}

// Whatever the input, the output has no line break and is valid UTF-8 without C1 controls.
TEST(LogEscape, AnyByteSequenceGivesOneLineOfValidText)
{
    std::string all;
    for (int a = 0; a < 256; ++a)
        for (int b : {0x00, 0x41, 0x80, 0x9f, 0xa0, 0xbf, 0xc2, 0xe2, 0xf0}) {
            all += static_cast<char>(a);
            all += static_cast<char>(b);
        }
    std::string out = escaped(all);
    EXPECT_EQ(out.find('\n'), std::string::npos);
    EXPECT_EQ(out.find('\r'), std::string::npos);
    // Escaping an escaped text changes nothing: it is all printable already.
    EXPECT_EQ(escaped(out), out);
}

}  // namespace
