#pragma once
// The service's configuration file, read as both programs read it (pcudata::configFile): a key that
// is absent, null or of a type that does not fit takes its default, a mistyped one with a warning
// in the service log. This layer adds what only the service needs: a file that can not be used at
// all ends the start with a plain message, and the warnings go to the service's logger.
#include <Poco/Logger.h>

#include <stdexcept>
#include <string>

#include "configFile.h"

namespace azs_apps {

// A configuration the service can not run with; what() is the message for the operator.
class configError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class webConfig : public pcudata::configFile {
public:
    // An empty configuration: every key takes its default.
    webConfig() = default;
    // Throws configError when the text is not one JSON object.
    static webConfig fromText(const std::string& text);
    // Throws configError naming the file when it is missing, unreadable, a directory, not JSON or
    // not a JSON object.
    static webConfig fromFile(const std::string& path);

    // Logs at warning the keys found mistyped since the last call (each key once per file read).
    void logNewWarnings(Poco::Logger& log) const;
};

}  // namespace azs_apps
