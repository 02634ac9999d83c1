#pragma once
// The daemon's plain line logger and the two file helpers that both programs use to prepare the
// shared-memory key file.
#include <cstdint>
#include <string>

namespace pcudata {
namespace runner {

// Destination of a log line. 0 and 1 always write (standard output / standard error); 2..6 write to
// standard output only when dLevel is at least 1..5; any other value writes nothing.
enum whereLog : int32_t {
    out = 0,
    err = 1,
    debug1 = 2,
    debug2 = 3,
    debug3 = 4,
    debug4 = 5,
    debug5 = 6,
};

// Process-wide verbosity for destinations 2..6; neither program changes it.
extern int32_t dLevel;

// Writes "(" + local time + "): " + message followed by end-of-line and a flush. An empty message
// writes nothing. With wide set the line goes to the wide stream of the destination.
void log(const std::string& message, whereLog where = out, bool wide = false);

bool FileExists(const std::string& path);
bool FileExists(const char* path);

// Creates the file when missing with exactly the given mode (the umask is cleared for the call);
// an existing file is left untouched. A dangling symbolic link is not followed to create its
// target. True when the file could be opened.
bool touchFile(const std::string& path, unsigned mode);
bool touchFile(const char* path, unsigned mode);

}  // namespace runner
}  // namespace pcudata
