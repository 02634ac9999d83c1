#include "webService.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include "httpConnection.h"
#include "httpContext.h"

namespace azs_apps {

namespace {

constexpr int MIN_THREADS = 2;
constexpr int LISTEN_BACKLOG = 128;
// An idle keep-alive connection costs a place in the reader's table, no worker.
constexpr int64_t KEEP_ALIVE_US = 5000000;
// Complete requests that may wait for a worker; beyond that the reader answers 503.
constexpr size_t QUEUED_PER_WORKER = 4;

int32_t workerCount(const webConfig& cfg)
{
    int32_t n = cfg.getInt("service.worker_threads", webService::DEFAULT_WORKERS);
    return n < MIN_THREADS ? MIN_THREADS : n;
}

int32_t listenPortOf(const webConfig& cfg)
{
    int32_t p = cfg.getInt("service.port", webService::DEFAULT_PORT);
    return p < 0 || p > 65535 ? webService::DEFAULT_PORT : p;
}

requestReader::settings readerSettings(const webConfig& cfg)
{
    requestReader::settings s;
    int32_t sec = cfg.getInt("service.read_timeout", webService::DEFAULT_READ_TIMEOUT_SEC);
    s.readTimeoutUs = static_cast<int64_t>(sec < 1 ? webService::DEFAULT_READ_TIMEOUT_SEC : sec) * 1000000;
    s.keepAliveUs = KEEP_ALIVE_US;
    int32_t most = cfg.getInt("service.max_connections", webService::DEFAULT_MAX_CONNECTIONS);
    s.maxConnections = static_cast<size_t>(most < 1 ? webService::DEFAULT_MAX_CONNECTIONS : most);
    s.limits.body = httpContext::BODY_LIMIT;
    return s;
}

}  // namespace

webService::webService(webConfig config, appFactory make)
    : cfg(std::move(config)),
      ip(cfg.getString("service.ip", "127.0.0.1")),
      listenPort(listenPortOf(cfg)),
      workers(workerCount(cfg)),
      scriptPath(cfg.getString("fuelweb.script", "/api/fuelweb")),
      pool([this, make] { return make(*this); }),
      reader(readerSettings(cfg), [this](std::unique_ptr<httpConnection>& c) { return threads.submit(c); }),
      handler(*this, reader),
      threads(static_cast<size_t>(workers), QUEUED_PER_WORKER * static_cast<size_t>(workers),
              [this](std::unique_ptr<httpConnection> c) { handler.serve(std::move(c)); })
{
}

webService::~webService()
{
    // Closes the connections that wait for a request, serves the requests already read and waits
    // for those in progress, including work that a handler does after its answer.
    reader.stop();
    threads.finish();
}

void webService::start()
{
    if (started) return;
    // Address reuse lets a new cycle bind the port while connections of the old one linger; no port
    // sharing, so a second service on the same port fails instead of splitting the traffic.
    listener.bind(Poco::Net::SocketAddress(ip, static_cast<Poco::UInt16>(listenPort)), true, false);
    listener.listen(LISTEN_BACKLOG);
    boundPort = listener.address().port();
    reader.start(listener.impl()->sockfd());
    started = true;
}

uint16_t webService::port() const
{
    return boundPort;
}

void webService::run()
{
    start();
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [this] { return stopRequested.load(); });
    }
    // Only listening ends here, so the next cycle can bind the same port at once; requests still
    // in progress finish when the object is destroyed.
    reader.stopListening();
    listener.close();
}

void webService::shutdown()
{
    std::lock_guard<std::mutex> lock(mutex);
    stopRequested = true;
    wake.notify_all();
}

}  // namespace azs_apps
