#include "webService.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <stdexcept>

#include "httpConnection.h"
#include "httpContext.h"

namespace azs_apps {

namespace {

constexpr int LISTEN_BACKLOG = 128;
// An idle keep-alive connection costs a place in the reader's table, no worker.
constexpr int64_t KEEP_ALIVE_US = 5000000;
// Complete requests that may wait for a worker; beyond that the reader answers 503.
constexpr size_t QUEUED_PER_WORKER = 4;

requestReader::settings readerSettings(const serviceSettings& svc)
{
    requestReader::settings s;
    s.readTimeoutUs = static_cast<int64_t>(svc.readTimeoutSec) * 1000000;
    s.keepAliveUs = KEEP_ALIVE_US;
    s.maxConnections = static_cast<size_t>(svc.maxConnections);
    s.limits.body = httpContext::BODY_LIMIT;
    return s;
}

}  // namespace

webService::webService(serviceSettings s, std::string script, appFactory make, std::string keys)
    : svcSettings(std::move(s)),
      scriptPath(std::move(script)),
      addressKeys(std::move(keys)),
      pool([this, make] { return make(*this); }),
      reader(readerSettings(svcSettings),
             [this](std::unique_ptr<httpConnection>& c) { return threads.submit(c); }),
      handler(*this, reader),
      threads(static_cast<size_t>(svcSettings.workers),
              QUEUED_PER_WORKER * static_cast<size_t>(svcSettings.workers),
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
    const std::string& ip = svcSettings.ip;
    try {
        listener.bind(Poco::Net::SocketAddress(ip, static_cast<Poco::UInt16>(svcSettings.port)), true, false);
        listener.listen(LISTEN_BACKLOG);
    } catch (const Poco::Exception& e) {
        throw std::runtime_error("Не удалось открыть " + ip + ":" + std::to_string(svcSettings.port) +
                                 " для приёма запросов (" + addressKeys + "): " + e.displayText());
    }
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
