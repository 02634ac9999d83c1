#include "httpCall.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

namespace soak {

namespace {

// Longer than any answer of fuelweb takes (a reservation waits up to about 5 s for the pump).
constexpr int ANSWER_TIMEOUT_SEC = 30;

httpResult post(uint16_t port, const std::string& uri, const std::string& contentType,
                const std::string& body)
{
    httpResult r;
    try {
        Poco::Net::HTTPClientSession session("127.0.0.1", port);
        session.setTimeout(Poco::Timespan(ANSWER_TIMEOUT_SEC, 0));
        Poco::Net::HTTPRequest req(Poco::Net::HTTPRequest::HTTP_POST, uri, Poco::Net::HTTPMessage::HTTP_1_1);
        req.setContentType(contentType);
        req.setContentLength(static_cast<std::streamsize>(body.size()));
        session.sendRequest(req) << body;
        Poco::Net::HTTPResponse resp;
        std::istream& in = session.receiveResponse(resp);
        Poco::StreamCopier::copyToString(in, r.body);
        r.status = resp.getStatus();
    } catch (const Poco::Exception& e) {
        r.status = -1;
        r.error = e.displayText();
    } catch (const std::exception& e) {
        r.status = -1;
        r.error = e.what();
    }
    return r;
}

}  // namespace

std::string httpResult::field(const std::string& name) const
{
    try {
        Poco::JSON::Parser parser;
        Poco::JSON::Object::Ptr obj = parser.parse(body).extract<Poco::JSON::Object::Ptr>();
        if (!obj || !obj->has(name)) return "";
        return obj->get(name).convert<std::string>();
    } catch (...) {
        return "";
    }
}

httpResult postJson(uint16_t port, const std::string& uri, const std::string& json)
{
    return post(port, uri, "application/json", json);
}

httpResult postForm(uint16_t port, const std::string& uri, const std::string& form)
{
    return post(port, uri, "application/x-www-form-urlencoded", form);
}

}  // namespace soak
