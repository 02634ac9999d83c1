#pragma once
// Logging of the web service: every logger ("fuelweb", "fuelweb/ping", ...) writes into one
// asynchronous queue, and a single background thread formats the lines and writes them to the
// configured sink. Request threads thus only queue a message and never wait for the disk or for
// each other.
//
// The queue is made once per process and stays; a new service cycle only swaps the sink behind it
// and sets the level, so threads of a finishing cycle can keep logging while the next one starts.
#include <Poco/Channel.h>

#include <string>

namespace azs_apps {
namespace weblog {

// Level names of the configuration: "error", "warning", "notice", "info", "debug" (Poco's own
// names are accepted too). -1 for any other text.
int priorityOf(const std::string& level);

// Points the queue at the file (empty: standard error) and sets every logger to the level (an
// unknown name means info). Throws Poco::Exception when the file can't be opened.
void configure(const std::string& level, const std::string& file);

// Replaces the sink with a channel of the caller's (tests capture the lines this way). The channel
// receives unformatted messages.
void setSink(Poco::Channel::Ptr sink);

// Waits until every queued line has been written. The queue restarts on the next message.
void drain();

}  // namespace weblog
}  // namespace azs_apps
