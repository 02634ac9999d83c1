#pragma once
// Logging of the web service. Every logger ("fuelweb", "fuelweb/ping", ...) hands its messages to
// one process-wide channel. The thread that logs formats its line at once into a buffer of its
// own (see lineQueue), so request threads never wait for each other, for the disk or for a
// formatting thread; a background thread wakes a few times a second, puts the lines of all
// threads back into the order they were logged in and writes them with one system call.
//
// Line format: "2024-03-05 14:07:09.123 Information fuelweb/ping: text".
//
// The queue is made once per process and stays; a new service cycle only points it at another
// file and sets the level, so threads of a finishing cycle can keep logging while the next one
// starts.
#include <string>
#include <vector>

namespace azs_apps {
namespace weblog {

// Level names of the configuration: "error", "warning", "notice", "info", "debug" (Poco's own
// names are accepted too). -1 for any other text.
int priorityOf(const std::string& level);

// Sends the lines to the file (appended; empty: standard error) and sets every logger to the level
// (an unknown name means info). Throws Poco::Exception naming the file and the system's reason when
// it can't be opened.
void configure(const std::string& level, const std::string& file);

// Writes every line queued so far before it returns.
void drain();

// The last error lines logged (errorLines::KEPT at most), oldest first, as the log shows them.
std::vector<std::string> recentErrors();

// Sends the lines of the shared library (segment attachment, socket options; see libLog) to the
// logger "fuelweb", so that they land in the service log rather than on standard error.
void routeLibraryLines();

}  // namespace weblog
}  // namespace azs_apps
