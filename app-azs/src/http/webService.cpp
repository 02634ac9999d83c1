#include "webService.h"

#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <algorithm>
#include <stdexcept>

#include "requestHandler.h"

namespace azs_apps {

namespace {

constexpr int MIN_THREADS = 2;
constexpr int THREAD_IDLE_SEC = 60;
constexpr int LISTEN_BACKLOG = 128;
// An idle keep-alive connection holds a worker: keep the wait for its next request short.
constexpr int KEEP_ALIVE_SEC = 5;
constexpr int READ_TIMEOUT_SEC = 30;

}  // namespace

webService::webService(webConfig config, appFactory make)
    : cfg(std::move(config)),
      svcSettings(serviceSettings::read(cfg)),
      scriptPath(cfg.getString("fuelweb.script", "/api/fuelweb")),
      pool([this, make] { return make(*this); }),
      threads("fuelweb", std::min(MIN_THREADS, svcSettings.workers), svcSettings.workers, THREAD_IDLE_SEC)
{
}

webService::~webService()
{
    if (server) {
        // Closes idle connections, waits for the requests in progress, including work that a
        // handler does after its answer.
        server->stopAll(false);
        threads.joinAll();
        server.reset();
    }
}

void webService::start()
{
    if (server) return;
    // Address reuse lets a new cycle bind the port while connections of the old one linger; no port
    // sharing, so a second service on the same port fails instead of splitting the traffic.
    Poco::Net::ServerSocket socket;
    listener = socket;
    const std::string& ip = svcSettings.ip;
    try {
        socket.bind(Poco::Net::SocketAddress(ip, static_cast<Poco::UInt16>(svcSettings.port)), true, false);
        socket.listen(LISTEN_BACKLOG);
    } catch (const Poco::Exception& e) {
        throw std::runtime_error(
            "Не удалось открыть " + ip + ":" + std::to_string(svcSettings.port) +
            " для приёма запросов (\"service.ip\", \"service.port\"): " + e.displayText());
    }
    const int32_t workers = svcSettings.workers;
    Poco::AutoPtr<Poco::Net::HTTPServerParams> params(new Poco::Net::HTTPServerParams);
    params->setMaxThreads(workers);
    params->setMaxQueued(4 * workers);
    params->setKeepAlive(true);
    params->setKeepAliveTimeout(Poco::Timespan(KEEP_ALIVE_SEC, 0));
    params->setTimeout(Poco::Timespan(READ_TIMEOUT_SEC, 0));
    params->setServerName("fuelweb");
    server = std::make_unique<Poco::Net::HTTPServer>(new requestFactory(*this), threads, socket, params);
    server->start();
}

uint16_t webService::port() const
{
    return server ? server->port() : 0;
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
    // The server only stops accepting; the socket itself would stay open until the server object
    // is destroyed, and a new cycle could not bind the port before.
    server->stop();
    listener.close();
}

void webService::shutdown()
{
    std::lock_guard<std::mutex> lock(mutex);
    stopRequested = true;
    wake.notify_all();
}

}  // namespace azs_apps
