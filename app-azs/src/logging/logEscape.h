#pragma once
// Log texts carry values that came from the network (paths, parameters, bodies). Written raw, a
// line break would start a line that an operator takes for the service's own, and control or
// malformed bytes would make the file something that is no longer valid UTF-8 text. These
// functions write a text so that every line of the file stays one message in valid, printable
// UTF-8:
//   - the C0 controls and DEL: "\n", "\r", or "\xNN"; a tab stays a tab;
//   - the C1 controls U+0080..U+009F, the line and paragraph separators U+2028 and U+2029, the
//     marks that reorder displayed text (U+200E, U+200F, U+202A..U+202E, U+2066..U+2069), the byte
//     order mark U+FEFF and the noncharacters U+FFFE, U+FFFF: "\u" and four hex digits;
//   - every byte that is not part of a well-formed UTF-8 sequence (stray continuation bytes,
//     truncated, overlong and surrogate sequences, values beyond U+10FFFF): "\xNN".
// All other text, Cyrillic included, is copied as it is. A backslash is not doubled, so an escape
// reads the same as a literal backslash sequence would; that is a matter of reading only, no line
// can be forged with it.
#include <cstddef>
#include <string>

namespace azs_apps {
namespace weblog {

// Appends text to out, escaped as above.
void appendEscaped(std::string& out, const char* text, size_t size);
inline void appendEscaped(std::string& out, const std::string& text)
{
    appendEscaped(out, text.data(), text.size());
}

// The escaped copy of a text.
std::string escaped(const std::string& text);

}  // namespace weblog
}  // namespace azs_apps
