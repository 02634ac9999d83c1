#include "logEscape.h"

#include <cstdint>

namespace azs_apps {
namespace weblog {

namespace {

const char HEX[] = "0123456789abcdef";

void appendByte(std::string& out, unsigned char b)
{
    const char esc[] = {'\\', 'x', HEX[b >> 4], HEX[b & 15]};
    out.append(esc, sizeof esc);
}

void appendCodePoint(std::string& out, uint32_t cp)
{
    const char esc[] = {'\\',        'u', HEX[(cp >> 12) & 15], HEX[(cp >> 8) & 15], HEX[(cp >> 4) & 15],
                        HEX[cp & 15]};
    out.append(esc, sizeof esc);
}

// Code points that are well-formed but would break a line, or change how the line is displayed.
bool unprintable(uint32_t cp)
{
    if (cp >= 0x80 && cp <= 0x9f) return true;
    if (cp < 0x200e) return false;
    return cp == 0x200e || cp == 0x200f || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202a && cp <= 0x202e) ||
           (cp >= 0x2066 && cp <= 0x2069) || cp == 0xfeff || cp == 0xfffe || cp == 0xffff;
}

bool continuation(unsigned char b)
{
    return (b & 0xc0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at p (lead byte >= 0x80) and its code point; 0 when the
// bytes there are not one.
size_t decode(const unsigned char* p, size_t left, uint32_t& cp)
{
    unsigned char b = p[0];
    size_t len;
    uint32_t min;
    if (b >= 0xc2 && b <= 0xdf) {
        len = 2, cp = b & 0x1f, min = 0x80;
    } else if (b >= 0xe0 && b <= 0xef) {
        len = 3, cp = b & 0x0f, min = 0x800;
    } else if (b >= 0xf0 && b <= 0xf4) {
        len = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;  // a continuation byte, an overlong lead (0xc0, 0xc1) or beyond U+10FFFF
    }
    if (left < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if (!continuation(p[i])) return 0;
        cp = cp << 6 | (p[i] & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
    return len;
}

// Past the bytes from i on that stay as they are in the common case: printable ASCII, and two-byte
// characters from U+00C0 on (Cyrillic among them), which are always well-formed and printable.
size_t skipPlain(const unsigned char* p, size_t i, size_t size)
{
    // Every step may look at the byte after the current one.
    while (i + 1 < size) {
        const unsigned b = p[i];
        if (b - 0x20u < 0x5fu) {
            ++i;
            continue;
        }
        if (b - 0xc3u >= 0x1du || (p[i + 1] & 0xc0u) != 0x80u) return i;
        i += 2;
    }
    return i < size && p[i] - 0x20u < 0x5fu ? size : i;
}

}  // namespace

void appendEscaped(std::string& out, const char* text, size_t size)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t plain = 0;  // start of the run of bytes copied as they are
    size_t i = 0;
    for (;;) {
        i = skipPlain(p, i, size);
        if (i >= size) break;
        unsigned char b = p[i];
        if (b >= 0x80) {
            uint32_t cp = 0;
            size_t len = decode(p + i, size - i, cp);
            if (len > 0 && !unprintable(cp)) {
                i += len;
                continue;
            }
            out.append(text + plain, i - plain);
            if (len > 0)
                appendCodePoint(out, cp);
            else
                appendByte(out, b);
            i += len > 0 ? len : 1;
            plain = i;
            continue;
        }
        if (b == '\t') {
            ++i;
            continue;
        }
        out.append(text + plain, i - plain);
        if (b == '\n')
            out += "\\n";
        else if (b == '\r')
            out += "\\r";
        else
            appendByte(out, b);
        plain = ++i;
    }
    out.append(text + plain, size - plain);
}

std::string escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text);
    return out;
}

}  // namespace weblog
}  // namespace azs_apps
