#include "str.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <iomanip>
#include <locale>
#include <sstream>

#include "timeSource.h"

namespace pcudata {
namespace str {

namespace {

const int32_t maxFill = 256;

// Common body of _stoi and _stol. errno is restored so that a parse never disturbs the caller's
// own error number.
int32_t parseInteger(const std::string& text, int64_t lo, int64_t hi, int64_t& value, size_t* pos, int base)
{
    if (base != 0 && (base < 2 || base > 36)) return -3;
    const int savedErrno = errno;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, base);
    const int err = errno;
    errno = savedErrno;
    if (end == begin) return -1;
    if (err == ERANGE || v < lo || v > hi) return -2;
    if (err != 0) return -3;
    value = v;
    if (pos != nullptr) *pos = static_cast<size_t>(end - begin);
    return 0;
}

bool localTime(time_t t, struct tm& out)
{
    std::memset(&out, 0, sizeof out);
    return ::localtime_r(&t, &out) != nullptr;
}

std::string formatTime(time_t t, const char* format)
{
    struct tm tm;
    if (!localTime(t, tm)) return std::string();
    char buf[64];
    const size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

// Midnight of the calendar day in tm. The daylight-saving flag is left for mktime to decide: a
// fixed 0 would put "midnight" at 01:00 on summer days in zones that observe daylight saving.
int64_t midnight(struct tm tm)
{
    tm.tm_sec = 0;
    tm.tm_min = 0;
    tm.tm_hour = 0;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(::mktime(&tm));
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether "dddd-dd-dd[T ]dd:dd:dd" starts at position at.
bool dateTimeAt(const std::string& s, size_t at)
{
    static const char shape[] = "dddd-dd-ddTdd:dd:dd";
    const size_t len = sizeof shape - 1;
    if (s.size() - at < len) return false;
    for (size_t k = 0; k < len; ++k) {
        const char c = s[at + k];
        const char want = shape[k];
        const bool ok = want == 'd' ? isDigit(c) : want == 'T' ? (c == 'T' || c == ' ') : c == want;
        if (!ok) return false;
    }
    return true;
}

// Digits of the first "." followed by at least one digit at or after from; empty when none.
std::string fractionAfter(const std::string& s, size_t from)
{
    for (size_t dot = s.find('.', from); dot != std::string::npos; dot = s.find('.', dot + 1)) {
        size_t end = dot + 1;
        while (end < s.size() && isDigit(s[end])) ++end;
        if (end > dot + 1) return s.substr(dot + 1, end - dot - 1);
    }
    return std::string();
}

size_t fillCount(const std::string& text, int32_t width)
{
    const int64_t target = width < maxFill ? width : maxFill;
    const int64_t size = static_cast<int64_t>(text.size());
    return target > size ? static_cast<size_t>(target - size) : 0;
}

bool startsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// Length of the well-formed UTF-8 sequence at text[at], or 0 when there is none.
size_t utf8SequenceAt(const std::string& text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b = byte(at);
    if (b < 0x80) return 1;
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) lo = 0xA0;  // no overlong forms
        if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (at + len > text.size() || byte(at + 1) < lo || byte(at + 1) > hi) return 0;
    for (size_t i = 2; i < len; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    return len;
}

}  // namespace

int32_t _stoi(const std::string& text, int32_t& out, size_t* pos, int base)
{
    int64_t value = 0;
    const int32_t rc = parseInteger(text, INT32_MIN, INT32_MAX, value, pos, base);
    if (rc == 0) out = static_cast<int32_t>(value);
    return rc;
}

int32_t _stol(const std::string& text, int64_t& out, size_t* pos, int base)
{
    return parseInteger(text, INT64_MIN, INT64_MAX, out, pos, base);
}

std::string dbl2str(double value, int precision)
{
    std::ostringstream os;
    // Amounts go to the platform and the controller, which both expect a "." decimal point.
    os.imbue(std::locale::classic());
    os << std::fixed << std::setprecision(precision) << value;
    return os.str();
}

std::string nowDateTime2Str()
{
    return formatTime(timeSrc().now(), "%Y%m%d%H%M%S");
}

std::string _mk_dmy_ExtDate(time_t& t)
{
    if (t == 0) t = timeSrc().now();
    struct tm tm;
    if (!localTime(t, tm)) return std::string();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                  tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string time2DayStr(const time_t* t)
{
    if (t == nullptr || *t == -1) return std::string();
    return formatTime(*t, "%Y%m%d");
}

std::string time2DayStr(time_t t)
{
    return time2DayStr(&t);
}

std::string now2DayStr()
{
    return time2DayStr(timeSrc().now());
}

std::string formatLongTime(const int32_t* seconds)
{
    if (seconds == nullptr) return std::string();
    const int32_t days = *seconds / 86400;
    int32_t rest = *seconds % 86400;
    const int32_t hours = rest / 3600;
    rest %= 3600;
    const int32_t minutes = rest / 60;
    const int32_t secs = rest % 60;
    std::string out;
    if (days > 0) out += std::to_string(days) + (days > 1 ? " days " : " day ");
    if (hours >= 1)
        out += std::to_string(hours) + " hrs ";
    else if (days != 0)
        out += "0 hrs ";
    if (minutes >= 1)
        out += std::to_string(minutes) + " min ";
    else if (hours != 0 || days != 0)
        out += "0 min ";
    return out + std::to_string(secs) + " secs";
}

std::string formatLongTime(int32_t seconds)
{
    return formatLongTime(&seconds);
}

std::string str_to_timestamp(const std::string& text, int digits)
{
    const size_t len = sizeof "yyyy-mm-ddThh:mm:ss" - 1;
    for (size_t at = 0; at + len <= text.size(); ++at) {
        if (!dateTimeAt(text, at)) continue;
        std::string out = text.substr(at, 10) + " " + text.substr(at + 11, 8);
        // A zero or negative digit count would leave a bare "." at the end of the stamp.
        const std::string fraction = digits > 0 ? fractionAfter(text, at + len) : std::string();
        if (!fraction.empty()) out += "." + fraction.substr(0, static_cast<size_t>(digits));
        return out;
    }
    return text;
}

int64_t str2daysecs(const char* text)
{
    if (text == nullptr) return -1;
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    if (::strptime(text, "%Y%m%d", &tm) == nullptr) return -1;
    return midnight(tm);
}

int64_t str2daysecs(const std::string& text)
{
    return str2daysecs(text.c_str());
}

int64_t time2daysecs(const time_t* t)
{
    if (t == nullptr) return -1;
    struct tm tm;
    if (!localTime(*t, tm)) return -1;
    return midnight(tm);
}

int64_t time2daysecs(time_t t)
{
    return time2daysecs(&t);
}

int64_t now2daysecs()
{
    return time2daysecs(timeSrc().now());
}

std::string str_left_fill(const std::string& text, int32_t width, char ch)
{
    return std::string(fillCount(text, width), ch) + text;
}

std::string str_right_fill(const std::string& text, int32_t width, char ch)
{
    return text + std::string(fillCount(text, width), ch);
}

bool str2bool(const std::string& text)
{
    std::string s = text;
    toLower(s);
    for (const char* word : {"yes", "true", "on", "enable", "1"}) {
        if (startsWith(s, word)) return true;
    }
    return false;
}

std::string validUtf8(const std::string& text)
{
    std::string out;
    size_t copied = 0;  // text before this is in out already
    for (size_t at = 0; at < text.size();) {
        const size_t len = utf8SequenceAt(text, at);
        if (len > 0) {
            at += len;
            continue;
        }
        out.append(text, copied, at - copied);
        out += "\xEF\xBF\xBD";
        copied = ++at;
    }
    if (copied == 0) return text;
    out.append(text, copied, std::string::npos);
    return out;
}

// The C classification functions take the byte as unsigned char; a plain negative char is undefined.
void toUpper(std::string& s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

void toLower(std::string& s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void toUpper(std::wstring& s)
{
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
}

void toLower(std::wstring& s)
{
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
}

namespace {
// A multibyte text never needs more wide characters than it has bytes; capacity covers the NUL.
wchar_t* printWide(const char* text, size_t capacity)
{
    wchar_t* buf = new wchar_t[capacity];
    if (std::swprintf(buf, capacity, L"%s", text) < 0) buf[0] = L'\0';
    return buf;
}
}  // namespace

wchar_t* str2wc(const std::string& text)
{
    return printWide(text.c_str(), text.size() + 1);
}

wchar_t* str2wc(const char* text)
{
    if (text == nullptr) return nullptr;
    return printWide(text, 4 * std::strlen(text) + 1);
}

wchar_t* ctow(const char* text, size_t n)
{
    if (text == nullptr) return nullptr;
    wchar_t* buf = new wchar_t[n + 1]();
    if (std::mbstowcs(buf, text, n) == static_cast<size_t>(-1)) buf[0] = L'\0';
    buf[n] = L'\0';
    return buf;
}

char* wtoc(const wchar_t* text, size_t n)
{
    if (text == nullptr) return nullptr;
    char* buf = new char[n + 1]();
    if (std::wcstombs(buf, text, n) == static_cast<size_t>(-1)) buf[0] = '\0';
    buf[n] = '\0';
    return buf;
}

char* str2cbuf(const std::string& text)
{
    char* buf = new char[text.size() + 1];
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return buf;
}

void wfree(wchar_t* p)
{
    delete[] p;
}

void cfree(char* p)
{
    delete[] p;
}

}  // namespace str
}  // namespace pcudata
