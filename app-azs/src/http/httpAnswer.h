#pragma once
// The head of an answer as this service writes it. The status line names HTTP/1.1, or HTTP/1.0
// for an HTTP/1.0 client; never whatever version the request claimed. Every answer carries its
// length, so a client always knows where it ends.
#include <cstddef>
#include <map>
#include <string>

namespace azs_apps {
namespace httpAnswer {

// Status line, Date, Server, the given fields, Content-Length and, when close is set,
// "Connection: Close"; ends with the empty line.
std::string head(int status, bool http10, const std::map<std::string, std::string>& fields,
                 size_t contentLength, bool close);

// A whole answer without body after which the connection is closed (refusals of the front).
std::string refusal(int status, bool http10);

// The interim answer to a client that waits for leave to send its body.
const std::string& continue100();

}  // namespace httpAnswer
}  // namespace azs_apps
