#include "signalLog.h"

#include <unistd.h>

#include <csignal>

#include "timeSource.h"

namespace pcudata {
namespace signalLog {

namespace {

// Seconds east of UTC; read by signal handlers, hence sig_atomic_t (an int on Linux).
volatile sig_atomic_t utcOffset = 0;
time_t lastRefresh = 0;
constexpr time_t REFRESH_SEC = 60;

// Appends text to buf[at..size-1) and returns the new length; never writes past size - 1.
size_t put(char* buf, size_t size, size_t at, const char* text)
{
    while (*text != '\0' && at + 1 < size) buf[at++] = *text++;
    return at;
}

// Decimal digits of v, zero-padded to width.
size_t putNumber(char* buf, size_t size, size_t at, long v, int width)
{
    char digits[24];
    int n = 0;
    const bool negative = v < 0;
    unsigned long u = negative ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0 && n < 22);
    while (n < width && n < 22) digits[n++] = '0';
    if (negative) digits[n++] = '-';
    while (n > 0 && at + 1 < size) buf[at++] = digits[--n];
    return at;
}

// Civil date of a day count since 1970-01-01 (proleptic Gregorian), without any library call.
void civilFromDays(long days, long& year, int& month, int& day)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

void cacheUtcOffset(time_t t)
{
    struct tm tm = {};
    if (::localtime_r(&t, &tm) != nullptr) utcOffset = static_cast<sig_atomic_t>(tm.tm_gmtoff);
    lastRefresh = t;
}

void refreshUtcOffset()
{
    const time_t now = timeSrc().now();
    if (now - lastRefresh >= REFRESH_SEC || now < lastRefresh) cacheUtcOffset(now);
}

size_t formatLine(char* buf, size_t size, time_t t, const char* text, long number, bool withNumber)
{
    if (size == 0) return 0;
    const long local = static_cast<long>(t) + utcOffset;
    long days = local / 86400;
    long secs = local % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    long year = 0;
    int month = 0, day = 0;
    civilFromDays(days, year, month, day);

    size_t at = put(buf, size, 0, "(");
    at = putNumber(buf, size, at, year, 4);
    at = put(buf, size, at, "-");
    at = putNumber(buf, size, at, month, 2);
    at = put(buf, size, at, "-");
    at = putNumber(buf, size, at, day, 2);
    at = put(buf, size, at, " ");
    at = putNumber(buf, size, at, secs / 3600, 2);
    at = put(buf, size, at, ":");
    at = putNumber(buf, size, at, secs / 60 % 60, 2);
    at = put(buf, size, at, ":");
    at = putNumber(buf, size, at, secs % 60, 2);
    at = put(buf, size, at, "): ");
    at = put(buf, size, at, text);
    if (withNumber) at = putNumber(buf, size, at, number, 1);
    at = put(buf, size, at, "\n");
    buf[at] = '\0';
    return at;
}

void writeLine(int fd, const char* text, long number, bool withNumber)
{
    char buf[512];
    const size_t len = formatLine(buf, sizeof buf, timeSrc().now(), text, number, withNumber);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::write(fd, buf + done, len - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

}  // namespace signalLog
}  // namespace pcudata
