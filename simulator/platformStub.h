#pragma once
// Stand-in for the ordering platform: an HTTP server on 127.0.0.1 that takes the station's notices
// (POST /canceled, /completed, /volume, /message, /callback/station, /callback/prices), records
// each request exactly as it arrived and answers a status chosen per path, so that tests can make
// the platform refuse and watch the station retry.
//
// Usage in a test:
//   sim::platformStub platform;
//   ASSERT_EQ(platform.start(), 0);                 // free loopback port
//   config "fuelweb.upstream_endpoint" = platform.baseUrl();
//   platform.setStatus("/completed", 500);          // refuse completions ...
//   ASSERT_TRUE(platform.waitForRequests(3, 2000)); // ... and see them come again
//   auto form = sim::platformStub::formFields(platform.requestsTo("/completed")[0].body);
//
// Status of an answer: the status set for the request's exact path, else the one set for the
// longest configured path that the request's path ends with (so "/completed" also covers
// "/api/completed" when the endpoint has a path of its own), else 200 for the six notice paths
// and 404 for anything else. Requests with other methods or paths are recorded too. The answer
// has an empty body. A request is recorded (and the listener called) when it arrives, before a
// delay set for its path. Thread-safe; errors are returned as numbers, nothing throws.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "stopFlag.h"

namespace Poco {
class ThreadPool;
namespace Net {
class HTTPServer;
}
}  // namespace Poco

namespace sim {

struct platformRequest {
    std::string method;
    std::string path;                                          // without the query
    std::string query;                                         // raw text after "?", not decoded
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;                                          // raw bytes
    int status = 0;                                            // what was answered

    // First header of that name, compared without regard to case; empty when absent.
    std::string header(const std::string& name) const;
};

class platformStub {
public:
    platformStub();
    ~platformStub();
    platformStub(const platformStub&) = delete;
    platformStub& operator=(const platformStub&) = delete;

    // 0, or an errno-style number when the port cannot be bound. port 0 = a free port.
    int start(int port = 0);
    void stop();
    int port() const { return boundPort; }
    std::string baseUrl() const;  // "http://127.0.0.1:<port>"

    void setStatus(const std::string& path, int code);
    // Holds the answer for ms milliseconds (to run into the station's transfer time-outs).
    void setDelay(const std::string& path, int ms);
    // Called for every request once it is recorded (on the server's thread).
    void setListener(std::function<void(const platformRequest&)> listener);

    std::vector<platformRequest> requests() const;
    std::vector<platformRequest> requestsTo(const std::string& pathSuffix) const;
    void clear();
    bool waitForRequests(size_t count, int timeoutMs) const;

    // Splits a form body "a=1&b=2" at "&" and the first "=" of each piece, without decoding (the
    // station percent-encodes only the bytes that would split a field; decode them as a form).
    static std::map<std::string, std::string> formFields(const std::string& body);

    // Used by the request handler.
    int statusFor(const std::string& path) const;
    void holdAnswer(const std::string& path);  // the delay set for the path; cut short by stop()
    void record(const platformRequest& r);

private:
    mutable std::mutex m;
    std::map<std::string, int> statuses;
    std::map<std::string, int> delays;
    std::vector<platformRequest> log;
    std::function<void(const platformRequest&)> onRequest;
    stopFlag halt;
    std::unique_ptr<Poco::ThreadPool> pool;
    std::unique_ptr<Poco::Net::HTTPServer> server;
    int boundPort = 0;
};

}  // namespace sim
