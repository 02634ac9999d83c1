#include "webTestSupport.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/StreamCopier.h>
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "fuelweb.h"
#include "testSupport.h"
#include "webConfig.h"

namespace webtest {

tempDir::tempDir()
{
    char name[] = "/tmp/fuelweb_test_XXXXXX";
    if (::mkdtemp(name) != nullptr) dir = name;
}

tempDir::~tempDir()
{
    removeSegment();
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

void tempDir::removeSegment() const
{
    testsupport::removeSegment(keyFile());
}

segmentView::segmentView(const std::string& keyFile)
{
    seg.setIpcPath(keyFile);
    if (seg.shmInit() == 0) shm = seg.shm;
}

segmentView::~segmentView()
{
    seg.shmStop();
}

pcudata::trkState_t& segmentView::publish(int n, int status)
{
    pcudata::trkState_t& rec = pump(n);
    pcudata::trkState_clear(rec);
    rec.trk = n;
    rec.status = status;
    // A monitor that renews the table all the time, whatever the test clock says: the tests of a
    // stale table set dataTime themselves.
    if (shm->pcuStatus.dataTime == 0) shm->pcuStatus.dataTime = ALWAYS_FRESH;
    return rec;
}

std::shared_ptr<const azs_apps::settings> settingsOf(const azs_apps::webConfig& file)
{
    auto cfg = std::make_shared<const azs_apps::settings>(azs_apps::settings::read(file));
    file.logNewWarnings(Poco::Logger::get("fuelweb"));
    return cfg;
}

runningService::runningService(const std::string& configJson)
{
    cfg = settingsOf(azs_apps::webConfig::fromText(configJson));
    svc = azs_apps::fuelweb::service(cfg);
    svc->start();
    runner = std::thread([this] { svc->run(); });
}

runningService::~runningService()
{
    svc->shutdown();
    runner.join();
    svc.reset();
}

namespace {

httpReply perform(uint16_t port, Poco::Net::HTTPRequest& req, const std::string& body)
{
    Poco::Net::HTTPClientSession session("127.0.0.1", port);
    session.setTimeout(Poco::Timespan(10, 0));
    if (!body.empty() || req.getMethod() == Poco::Net::HTTPRequest::HTTP_POST)
        req.setContentLength(static_cast<std::streamsize>(body.size()));
    session.sendRequest(req) << body;
    Poco::Net::HTTPResponse resp;
    std::istream& in = session.receiveResponse(resp);
    httpReply reply;
    reply.status = resp.getStatus();
    Poco::StreamCopier::copyToString(in, reply.body);
    reply.contentType = resp.get("Content-Type", "");
    reply.contentEncoding = resp.get("Content-Encoding", "");
    reply.contentLanguage = resp.get("Content-Language", "");
    reply.connection = resp.get("Connection", "");
    return reply;
}

}  // namespace

httpReply httpGet(uint16_t port, const std::string& uri)
{
    Poco::Net::HTTPRequest req(Poco::Net::HTTPRequest::HTTP_GET, uri, Poco::Net::HTTPMessage::HTTP_1_1);
    return perform(port, req, "");
}

httpReply httpPost(uint16_t port, const std::string& uri, const std::string& contentType,
                   const std::string& body)
{
    Poco::Net::HTTPRequest req(Poco::Net::HTTPRequest::HTTP_POST, uri, Poco::Net::HTTPMessage::HTTP_1_1);
    req.setContentType(contentType);
    return perform(port, req, body);
}

httpReply httpSend(uint16_t port, const std::string& method, const std::string& uri,
                   const std::string& contentType, const std::string& body)
{
    Poco::Net::HTTPRequest req(method, uri, Poco::Net::HTTPMessage::HTTP_1_1);
    if (!contentType.empty()) req.setContentType(contentType);
    return perform(port, req, body);
}

uint16_t freePort()
{
    Poco::Net::ServerSocket s(Poco::Net::SocketAddress("127.0.0.1", 0));
    return s.address().port();
}

std::string configWith(const std::string& fuelwebMembers, const std::string& serviceMembers)
{
    std::string service = "\"ip\":\"127.0.0.1\",\"port\":0,\"worker_threads\":8";
    if (!serviceMembers.empty()) service += "," + serviceMembers;
    return "{\"service\":{" + service + "},\"fuelweb\":{" + fuelwebMembers + "}}";
}

}  // namespace webtest
