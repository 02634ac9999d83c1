#include "platformStub.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/ThreadPool.h>

#include <strings.h>
#include <cerrno>
#include <chrono>
#include <iterator>
#include <thread>

namespace sim {

namespace {

const char* const noticePaths[] = {"/canceled", "/completed",        "/volume",
                                   "/message",  "/callback/station", "/callback/prices"};

bool endsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Value for the longest key that the path ends with (an exact match being the longest).
int lookup(const std::map<std::string, int>& table, const std::string& path, int fallback)
{
    size_t best = 0;
    int value = fallback;
    for (const auto& kv : table) {
        if (endsWith(path, kv.first) && kv.first.size() > best) {
            best = kv.first.size();
            value = kv.second;
        }
    }
    return value;
}

platformRequest readRequest(Poco::Net::HTTPServerRequest& req)
{
    platformRequest r;
    r.method = req.getMethod();
    const std::string& uri = req.getURI();
    size_t q = uri.find('?');
    r.path = uri.substr(0, q);
    r.query = q == std::string::npos ? "" : uri.substr(q + 1);
    for (const auto& h : req) r.headers.push_back({h.first, h.second});
    r.body.assign(std::istreambuf_iterator<char>(req.stream()), std::istreambuf_iterator<char>());
    return r;
}

class noticeHandler : public Poco::Net::HTTPRequestHandler {
public:
    explicit noticeHandler(platformStub& stub) : owner(stub) {}

    void handleRequest(Poco::Net::HTTPServerRequest& req, Poco::Net::HTTPServerResponse& resp) override
    {
        platformRequest r = readRequest(req);
        r.status = r.method == "POST" ? owner.statusFor(r.path) : 405;
        owner.record(r);
        owner.holdAnswer(r.path);
        resp.setStatus(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(r.status));
        resp.setContentLength(0);
        resp.send();
    }

private:
    platformStub& owner;
};

class handlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
public:
    explicit handlerFactory(platformStub& stub) : owner(stub) {}
    Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
    {
        return new noticeHandler(owner);
    }

private:
    platformStub& owner;
};

}  // namespace

std::string platformRequest::header(const std::string& name) const
{
    for (const auto& h : headers)
        if (::strcasecmp(h.first.c_str(), name.c_str()) == 0) return h.second;
    return "";
}

platformStub::platformStub()
{
    for (const char* p : noticePaths) statuses[p] = 200;
}

platformStub::~platformStub()
{
    stop();
}

int platformStub::start(int port)
{
    if (server) return EALREADY;
    halt.reset();
    try {
        Poco::Net::ServerSocket socket(
            Poco::Net::SocketAddress("127.0.0.1", static_cast<Poco::UInt16>(port)));
        Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
        params->setKeepAlive(false);
        params->setMaxThreads(8);
        pool = std::make_unique<Poco::ThreadPool>(2, 8);
        server = std::make_unique<Poco::Net::HTTPServer>(new handlerFactory(*this), *pool, socket, params);
        server->start();
        boundPort = socket.address().port();
        return 0;
    } catch (const Poco::Exception& e) {
        server.reset();
        pool.reset();
        return e.code() != 0 ? e.code() : EIO;
    }
}

void platformStub::stop()
{
    if (!server) return;
    halt.raise();
    server->stopAll(true);
    server.reset();
    pool->joinAll();
    pool.reset();
}

std::string platformStub::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(boundPort);
}

void platformStub::setStatus(const std::string& path, int code)
{
    std::lock_guard<std::mutex> g(m);
    statuses[path] = code;
}

void platformStub::setDelay(const std::string& path, int ms)
{
    std::lock_guard<std::mutex> g(m);
    delays[path] = ms;
}

void platformStub::setListener(std::function<void(const platformRequest&)> listener)
{
    std::lock_guard<std::mutex> g(m);
    onRequest = std::move(listener);
}

int platformStub::statusFor(const std::string& path) const
{
    std::lock_guard<std::mutex> g(m);
    return lookup(statuses, path, 404);
}

void platformStub::holdAnswer(const std::string& path)
{
    int ms;
    {
        std::lock_guard<std::mutex> g(m);
        ms = lookup(delays, path, 0);
    }
    if (ms > 0) halt.sleepMs(ms);
}

void platformStub::record(const platformRequest& r)
{
    std::function<void(const platformRequest&)> listener;
    {
        std::lock_guard<std::mutex> g(m);
        log.push_back(r);
        listener = onRequest;
    }
    if (listener) listener(r);
}

std::vector<platformRequest> platformStub::requests() const
{
    std::lock_guard<std::mutex> g(m);
    return log;
}

std::vector<platformRequest> platformStub::requestsTo(const std::string& pathSuffix) const
{
    std::vector<platformRequest> out;
    for (const platformRequest& r : requests())
        if (endsWith(r.path, pathSuffix)) out.push_back(r);
    return out;
}

void platformStub::clear()
{
    std::lock_guard<std::mutex> g(m);
    log.clear();
}

bool platformStub::waitForRequests(size_t count, int timeoutMs) const
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (requests().size() < count) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::map<std::string, std::string> platformStub::formFields(const std::string& body)
{
    std::map<std::string, std::string> out;
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t amp = body.find('&', pos);
        std::string piece = body.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
        size_t eq = piece.find('=');
        if (!piece.empty()) out[piece.substr(0, eq)] = eq == std::string::npos ? "" : piece.substr(eq + 1);
        if (amp == std::string::npos) break;
        pos = amp + 1;
    }
    return out;
}

}  // namespace sim
