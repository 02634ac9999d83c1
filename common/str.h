#pragma once
// Text toolbox of both programs: integer parsing with error codes, fixed-point formatting, the time
// stamps used by the controller and the ordering platform, and narrow/wide buffers for the logger.
//
// Nothing here throws on bad input; only the buffer functions may throw std::bad_alloc. Local time
// is taken from the process's time zone and the current time from timeSrc().
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace pcudata {
namespace str {

// Integer parsing as the standard string-to-number conversion does it (leading white space, an
// optional sign, digits of base, trailing characters ignored; pos receives the characters used).
// Returns 0 with the value in out; -1 when no digits were read, -2 when the value does not fit,
// -3 on any other error (such as an unsupported base). On failure out and pos are left unchanged.
int32_t _stoi(const std::string& text, int32_t& out, size_t* pos = nullptr, int base = 10);
int32_t _stol(const std::string& text, int64_t& out, size_t* pos = nullptr, int base = 10);

// Fixed notation with exactly precision decimals, rounded as the standard streams round; the point
// is always "." whatever the global locale.
std::string dbl2str(double value, int precision);

// Current local time as "%Y%m%d%H%M%S".
std::string nowDateTime2Str();
// Local time t as "dd.mm.yyyy hh:mm:ss"; a zero t is first replaced by the current time, and the
// caller's variable receives that value.
std::string _mk_dmy_ExtDate(time_t& t);
// Local date of t as "%Y%m%d"; empty for a null pointer or -1.
std::string time2DayStr(const time_t* t);
std::string time2DayStr(time_t t);
std::string now2DayStr();

// A duration in words: "1 day 1 hrs 1 min 1 secs"; empty for a null pointer.
std::string formatLongTime(const int32_t* seconds);
std::string formatLongTime(int32_t seconds);

// "yyyy-mm-ddThh:mm:ss[.fraction]..." to "yyyy-mm-dd hh:mm:ss[.first digits of fraction]"; a text
// without such a date and time is returned unchanged.
std::string str_to_timestamp(const std::string& text, int digits);

// Local midnight of an 8-digit "%Y%m%d" day, in seconds since the epoch; -1 for a null text or a
// parse failure.
int64_t str2daysecs(const char* text);
int64_t str2daysecs(const std::string& text);
// Local midnight of the day of t; -1 for a null pointer.
int64_t time2daysecs(const time_t* t);
int64_t time2daysecs(time_t t);
int64_t now2daysecs();

// Pad with ch up to width characters, never past 256; a longer text is returned as it is.
std::string str_left_fill(const std::string& text, int32_t width, char ch = ' ');
std::string str_right_fill(const std::string& text, int32_t width, char ch = ' ');

// True for texts starting (in any case) with "yes", "true", "on", "enable" or "1".
bool str2bool(const std::string& text);

void toUpper(std::string& s);
void toLower(std::string& s);
void toUpper(std::wstring& s);
void toLower(std::wstring& s);

// The text as well-formed UTF-8: each byte that does not belong to a valid sequence (a Windows-1251
// letter, a cut sequence, an overlong form, a surrogate) becomes U+FFFD. Valid text is returned
// unchanged. JSON for the platform must be UTF-8, whatever the controller sent.
std::string validUtf8(const std::string& text);

// Wide copy of a multibyte text in the current locale. Null for a null C string; an empty buffer
// when the text does not convert. Release with wfree.
wchar_t* str2wc(const std::string& text);
wchar_t* str2wc(const char* text);
// At most n wide characters (or n bytes) converted; the buffer always holds n + 1 elements so the
// result stays terminated even when the limit is reached. Null for a null text; empty when the
// text does not convert.
wchar_t* ctow(const char* text, size_t n);
char* wtoc(const wchar_t* text, size_t n);
// Copy of the string with its terminating NUL. Release with cfree.
char* str2cbuf(const std::string& text);
void wfree(wchar_t* p);
void cfree(char* p);

}  // namespace str
}  // namespace pcudata
