#pragma once
// What several fuzz targets need around the code they feed: silent loggers, inputs cut into
// lines, a controller session that reads from a byte string, and a request without a server.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "httpContext.h"
#include "pcuControl.h"

namespace fuzzing {

// Every logger of the programs writes into nothing, at debug level, so that the text of every log
// line is still built (and checked by the sanitizers) without filling the terminal.
void quietLogs();

// The input cut at each line feed; a last piece without its line feed is a line too.
std::vector<std::string> lines(std::string_view input);

// True when a fixed-size text field holds its terminating NUL within its size.
template <size_t N>
bool terminated(const char (&field)[N])
{
    return std::memchr(field, '\0', N) != nullptr;
}

// A controller session whose peer has sent `bytes` and closed: the session reads them as it
// would read them from the control port. Null when no socket pair could be made.
std::unique_ptr<pcudata::pcuControl> sessionReading(std::string_view bytes);

// Inputs read through such a session are cut to this length, below the line reader's longest line
// (4095 bytes): every line then reaches the reader whole and its pieces need no modelling.
constexpr size_t STREAM_INPUT_MAX = 4000;

// The lines a session reads from such a peer (at most STREAM_INPUT_MAX bytes): the whole lines up
// to the last line feed. What follows the last line feed was cut by the close and is not a line.
std::vector<std::string> linesAsRead(std::string_view bytes);

// The context of a request that has arrived whole, as the service hands it to a handler; its
// answer is kept nowhere.
std::unique_ptr<azs_apps::httpContext> requestContext(const std::string& method, const std::string& uri,
                                                      const std::string& contentType,
                                                      const std::string& body);

}  // namespace fuzzing
