#pragma once
// The compact JSON text of an answer, byte for byte what Poco's writer makes of the object
// (members sorted by name, no blanks), written without Poco's stream that goes through
// std::ostream one character at a time: for the short answers of this service that stream cost
// more than the rest of the request. Values other than strings, numbers and booleans, and objects
// that escape all of Unicode or keep their insertion order, are left to Poco's writer.
#include <Poco/JSON/Object.h>

#include <string>

namespace azs_apps {

std::string compactJson(const Poco::JSON::Object& body);

}  // namespace azs_apps
