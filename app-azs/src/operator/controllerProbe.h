#pragma once
// Whether the controller's control port answers, for the operator: a light probe (a TCP
// connection made and closed at once, its handshake timed) on a thread of its own, at most once
// every PROBE_EVERY_SEC nominal seconds of the time source. The platform's requests never wait for
// it, and the controller sees no command from it: no workplace registered, nothing in its journal.
//
// A link that is lost, and one that comes back, are said once each at warning under
// "fuelweb/operator"; the probes in between are silent, so a controller that is away for hours
// does not fill the log.
#include <Poco/Logger.h>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

namespace azs_apps {

class controllerProbe {
public:
    static constexpr time_t PROBE_EVERY_SEC = 5;
    // A handshake that takes longer counts as no answer.
    static constexpr int64_t CONNECT_BUDGET_US = 2000000;

    struct result {
        bool probed = false;      // false until the first probe has ended
        bool connected = false;   // the port took the connection
        int64_t roundTripUs = 0;  // the handshake of the last successful probe
        time_t at = 0;            // when the last probe ended (time source)
        time_t since = 0;         // when the link last changed (connected or lost)
    };

    // Starts probing host:port at once.
    controllerProbe(std::string host, unsigned port);
    ~controllerProbe();
    controllerProbe(const controllerProbe&) = delete;
    controllerProbe& operator=(const controllerProbe&) = delete;

    result last() const;

    // One probe on the calling thread; the handshake's length in microseconds, -1 when the port
    // did not take the connection within the budget.
    static int64_t probeOnce(const std::string& host, unsigned port);

private:
    std::string host;
    unsigned port;
    Poco::Logger& log;
    mutable std::mutex m;
    std::condition_variable wake;
    bool stopping = false;
    result seen;
    std::thread thread;

    void run();
    void note(int64_t roundTripUs);
};

}  // namespace azs_apps
