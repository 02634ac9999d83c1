#include <cstdio>
#include <ctime>
#include <iostream>

#include "runner.h"
#include "str.h"
#include "timeSource.h"

namespace pcudata {
namespace runner {

int32_t dLevel = 0;

namespace {

// Destinations 0 and 1 always write; 2..6 are debug levels 1..5; anything else is dropped.
bool enabled(whereLog where)
{
    const int32_t w = where;
    if (w == out || w == err) return true;
    return w >= debug1 && w <= debug5 && dLevel >= w - 1;
}

std::string stamp()
{
    const time_t now = timeSrc().now();
    struct tm tm = {};
    ::localtime_r(&now, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

// Each line goes out in a single insertion so that lines from concurrent callers stay whole.
void writeNarrow(const std::string& line, whereLog where)
{
    std::ostream& os = where == err ? std::cerr : std::cout;
    os << line << std::flush;
}

void writeWide(const std::string& line, whereLog where)
{
    wchar_t* wline = str::str2wc(line);
    if (wline != nullptr && *wline != L'\0') {
        std::wostream& os = where == err ? std::wcerr : std::wcout;
        os << wline << std::flush;
    }
    str::wfree(wline);
}

}  // namespace

void log(const std::string& message, whereLog where, bool wide)
{
    if (message.empty() || !enabled(where)) return;
    const std::string line = "(" + stamp() + "): " + message + "\n";
    if (wide)
        writeWide(line, where);
    else
        writeNarrow(line, where);
}

}  // namespace runner
}  // namespace pcudata
