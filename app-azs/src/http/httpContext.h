#pragma once
// One HTTP request and its answer, as the endpoint handlers see them.
//
// The handler reads the method, the query parameters, the form parameters of a POST body and the
// raw body; it sets the status, headers and body of the answer and calls complete(), which sends
// the whole answer at once with its length. After complete() the handler may carry on with other
// work on the same thread: the client already has its answer. If a handler returns without
// completing, the service completes the answer with whatever the handler has set so far.
//
// The request has arrived whole before the handler runs (the body included), so nothing here
// waits for the client. The answer goes out through the connection the request came on, which
// the service owns: a handler must not keep the context beyond its own return. Once the service
// has finished with it, complete() does nothing.
#include <Poco/Net/HTTPRequest.h>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "formFields.h"
#include "httpRequest.h"

namespace azs_apps {

class httpContext {
public:
    // What the handler does once its answer is out.
    enum afterAnswer {
        carryOn,  // more work follows: the connection is closed so no client waits on this thread
        done,     // the handler returns at once: the connection may serve the client's next request
    };

    // Largest request body accepted; a longer one is answered 413 before any handler runs.
    static constexpr size_t BODY_LIMIT = 1024 * 1024;

    // Writes the bytes of the answer to the client; keepOpen: the connection may serve the
    // client's next request afterwards. False when the client could not be written to.
    using sender = std::function<bool(const std::string& bytes, bool keepOpen)>;

    // keepAlive: the connection may be kept after a `done` answer (the client allows it and the
    // service is not stopping).
    httpContext(std::unique_ptr<httpRequest> request, sender send, bool keepAlive);
    httpContext(const httpContext&) = delete;
    httpContext& operator=(const httpContext&) = delete;

    // --- request ---------------------------------------------------------------------------
    const std::string& method() const { return req->head.getMethod(); }
    // Decoded path of the request, without the query.
    const std::string& path() const { return requestPath; }
    const std::string& contentType() const { return req->head.getContentType(); }
    // Value of a query parameter; empty when absent.
    std::string get(const std::string& name) const;
    // Value of a form field of the body; empty when absent. The body is parsed as a form when its
    // content type is application/x-www-form-urlencoded or multipart/form-data, or when
    // parseFormBody() asked for it (then as URL-encoded unless it is multipart).
    std::string post(const std::string& name);
    void parseFormBody();
    // The request body as received (for JSON bodies).
    const std::string& rawBody() const { return req->body; }
    // Request line and header fields.
    const Poco::Net::HTTPRequest& serverRequest() const { return req->head; }
    // "address:port" of the client.
    const std::string& peer() const { return req->peer; }

    // --- answer ----------------------------------------------------------------------------
    void status(int code) { answerStatus = code; }
    int status() const { return answerStatus; }
    void setHeader(const std::string& name, const std::string& value) { headers[name] = value; }
    void contentType(const std::string& v) { setHeader("Content-Type", v); }
    void contentEncoding(const std::string& v) { setHeader("Content-Encoding", v); }
    void contentLanguage(const std::string& v) { setHeader("Content-Language", v); }
    // Appends to the answer body.
    void out(const std::string& text) { answer += text; }
    std::string& outBody() { return answer; }

    // Sends status, headers and body in one go. Later calls do nothing. False when the client
    // could not be written to (it has gone); the handler carries on either way.
    bool complete(afterAnswer next = carryOn);
    bool isCompleted() const { return completed; }

    // The route the request took, for the count of answers by route and code (the slot of
    // stationMetrics; until a route is found, "other").
    void metricsRoute(int slot) { routeSlot = slot; }

    // Called by the service when the request is over; the context is inert afterwards.
    void close() { closed = true; }

private:
    std::unique_ptr<httpRequest> req;
    sender send;
    bool keepAlive;
    std::string requestPath;
    formFields query;
    formFields form;
    bool formParsed = false;

    int answerStatus = 200;
    std::map<std::string, std::string> headers;
    std::string answer;
    bool completed = false;
    bool closed = false;
    int routeSlot = 0;  // stationMetrics::otherRoute()

    void splitUri();
    void readMultipartForm();
};

}  // namespace azs_apps
