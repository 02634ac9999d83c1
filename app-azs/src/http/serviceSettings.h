#pragma once
// Keys of the HTTP service itself ("service.*", "logging.*").
//
// Unlike the "fuelweb" keys, a value here that does not fit is not replaced by a default: a service
// that listened on another port, ran with another number of workers or logged at another level
// than the operator wrote would be found out only by accident. Such a value stops the start with a
// message that names the key and what it accepts. An absent or null key takes its default.
//
//   "service.ip"             listening address (a string), default "127.0.0.1"
//   "service.port"           0..65535, default 8080; 0 lets the system pick a free port (tests use
//                            it), and the port actually bound is logged at every start
//   "service.worker_threads" 1..1024, default 64: requests served at once. A /fueling request holds
//                            a worker for a whole delivery, so at least one per pump (32) and more;
//                            beyond 1024 threads the service would only exhaust memory and
//                            descriptors of a station host without serving more
//   "service.read_timeout"   1..3600 seconds, default 5: time a client has to send a whole request
//                            (head and body); 408 and the connection closed after it
//   "service.max_connections" 1..65536, default 512: connections being read or kept open at once;
//                            the idle kept ones give way first
//   "logging.level"          "error", "warning", "notice", "info" or "debug" (Poco's own names
//                            are accepted too), default "info"
//   "logging.file"           log file (a string, appended to), default: standard error
#include <cstdint>
#include <string>

#include "configFile.h"

namespace azs_apps {

struct serviceSettings {
    static constexpr int32_t DEFAULT_PORT = 8080;
    static constexpr int32_t DEFAULT_WORKERS = 64;
    static constexpr int32_t MAX_WORKERS = 1024;
    static constexpr int32_t DEFAULT_READ_TIMEOUT_SEC = 5;
    static constexpr int32_t DEFAULT_MAX_CONNECTIONS = 512;

    std::string ip = "127.0.0.1";
    int32_t port = DEFAULT_PORT;
    int32_t workers = DEFAULT_WORKERS;
    int32_t readTimeoutSec = DEFAULT_READ_TIMEOUT_SEC;
    int32_t maxConnections = DEFAULT_MAX_CONNECTIONS;
    std::string logLevel = "info";
    std::string logFile;  // empty: standard error

    // Throws configError for the first key whose value does not fit.
    static serviceSettings read(const pcudata::configFile& cfg);
    // True when name is a "logging.level" the service takes.
    static bool knownLevel(const std::string& name);
    // What "logging.level" accepts, for messages.
    static std::string levelsText();
};

}  // namespace azs_apps
