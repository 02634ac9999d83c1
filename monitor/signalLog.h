#pragma once
// Log lines written from signal handlers.
//
// A handler may interrupt the daemon anywhere, even inside malloc or localtime, so it can use
// neither the streams nor the C library's time conversion. The line is built in a stack buffer
// from the clock and a UTC offset that the main loop caches beforehand (the offset is the only
// part of local time that needs the time-zone database), and it goes out with one write(2).
#include <cstddef>
#include <ctime>

namespace pcudata {
namespace signalLog {

// Refreshes the cached UTC offset for t. Normal context only (calls localtime_r).
void cacheUtcOffset(time_t t);
// Refreshes it when at least a minute has passed since the last refresh; cheap enough for every
// pass of the monitoring loop, and follows daylight-saving changes.
void refreshUtcOffset();

// "(YYYY-MM-DD hh:mm:ss): " + text + number (when withNumber) + "\n" into buf for time t and the
// cached offset; the length written, at most size - 1 (the line is cut to fit). Signal-safe.
size_t formatLine(char* buf, size_t size, time_t t, const char* text, long number, bool withNumber);
// Formats the line for the current time and writes it to fd. Signal-safe.
void writeLine(int fd, const char* text, long number, bool withNumber = true);

}  // namespace signalLog
}  // namespace pcudata
