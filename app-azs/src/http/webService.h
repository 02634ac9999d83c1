#pragma once
// One life of the HTTP service: listens, serves requests on its own pool of worker threads through
// the pool of root application objects, and stops when asked to. The process entry makes one object
// per cycle with the settings of that cycle (a restart reads the configuration afresh).
//
// Requests are read by one thread (requestReader) and served by the workers (workerPool) only once
// they are complete, so clients that send slowly or nothing at all never take a worker.
#include <Poco/Net/ServerSocket.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "appPool.h"
#include "application.h"
#include "requestHandler.h"
#include "requestReader.h"
#include "serviceSettings.h"
#include "workerPool.h"

namespace azs_apps {

class webService {
public:
    static constexpr int32_t DEFAULT_PORT = serviceSettings::DEFAULT_PORT;
    static constexpr int32_t DEFAULT_WORKERS = serviceSettings::DEFAULT_WORKERS;

    // Makes the root application objects of this service life, on demand.
    using appFactory = std::function<std::unique_ptr<application>(webService&)>;

    // script: the path below which the requests are served ("fuelweb.script"). keys: the
    // configuration keys of the address and port, named when they can't be bound.
    webService(serviceSettings s, std::string script, appFactory make,
               std::string keys = "\"service.ip\", \"service.port\"");
    // Stops listening, lets the requests in progress finish (their whole work, not only their
    // answers) and then releases the application objects.
    ~webService();
    webService(const webService&) = delete;
    webService& operator=(const webService&) = delete;

    const serviceSettings& settings() const { return svcSettings; }
    const std::string& script() const { return scriptPath; }
    appPool& apps() { return pool; }

    // Binds and starts listening; throws std::runtime_error naming the address when it can't be
    // bound.
    void start();
    // Port actually listened on (useful with "service.port" 0); 0 before start().
    uint16_t port() const;
    // Serves (starting first when needed) until shutdown(), then stops listening and returns.
    void run();
    // Asks run() to return. Safe from any thread, also before run() has started.
    void shutdown();
    // True once shutdown() was called; long handlers may test it to end early.
    bool stopping() const { return stopRequested.load(); }

private:
    serviceSettings svcSettings;
    std::string scriptPath;
    std::string addressKeys;
    appPool pool;
    Poco::Net::ServerSocket listener;
    bool started = false;
    uint16_t boundPort = 0;
    // The reader hands complete requests to the workers, the workers give connections back to it:
    // the reader is made first and goes last.
    requestReader reader;
    requestHandler handler;
    workerPool threads;

    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> stopRequested{false};
};

}  // namespace azs_apps
