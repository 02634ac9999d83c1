#pragma once
// Base of the endpoint applications (ping, station, order, fueling, canceled, callback) and their
// toolkit. An endpoint object belongs to one root application object, which gives it at
// construction what it may use: the service's settings, the prototype controller session (the
// controller's settings and the pump table) and the URL dispatcher its handlers register on. A
// handler is given the request it serves. What every endpoint does with a request (read parameters
// and keys, answer in JSON, open a controller session of its own) is written here once.
#include <Poco/JSON/Object.h>

#include <memory>
#include <string>

#include "apiKeys.h"
#include "httpContext.h"
#include "notices.h"
#include "pcuControl.h"
#include "settings.h"
#include "urlDispatcher.h"
#include "webService.h"

namespace azs_apps {

// What an endpoint is given.
struct endpointContext {
    const settings& cfg;
    pcudata::pcuControl& prototype;  // settings and the pump table, never commands
    urlDispatcher& dispatcher;
    const webService& service;  // whether it is stopping
};

class master {
public:
    explicit master(const endpointContext& ctx)
        : cfg(ctx.cfg), proto(ctx.prototype), urls(ctx.dispatcher), service(ctx.service)
    {
    }
    virtual ~master() = default;
    master(const master&) = delete;
    master& operator=(const master&) = delete;

protected:
    const settings& cfg;
    // The service's root below which the endpoints are reached ("fuelweb.script").
    const std::string& script() const { return cfg.script; }
    // The service of this cycle is stopping: work that goes on after an answer may end early.
    bool stopping() const { return service.stopping(); }
    // Registers a handler of this endpoint.
    template <class App>
    void route(const std::string& pattern, void (App::*fn)(httpContext&), App* app)
    {
        urls.assign(pattern, fn, app);
    }

    // --- request ---------------------------------------------------------------------------
    // Query-string value; for a POST a non-empty form field of the same name replaces it.
    static std::string param(httpContext& ctx, const std::string& name);
    // The keys of "apikey" and which check they fail against the configured keys.
    apiKeys::verdict checkKeys(const apiKeys& keys, apiKeys::layout l) const;
    // The three keys of an order endpoint (/order, /fueling, /canceled); throws ExceptionHTTP 401
    // with the text that names the failing key (for the log; what the caller is told is the
    // endpoint's own choice).
    void requireOrderKeys(const apiKeys& keys) const;
    // The pump's record keeps at most 119 bytes of an order id and of a client key: a longer one
    // would be cut there, and no later request could find the order on its pump. Throws
    // ExceptionHTTP 400 naming the field.
    static void requireRecordWidths(const std::string& orderId, const std::string& clientKey);

    // --- answer ----------------------------------------------------------------------------
    // Content encoding "utf-8" and language "ru"; with json also the JSON content type.
    static void answerHeaders(httpContext& ctx, bool json = true);
    // Sets the status, writes the body and sends the answer.
    static void answer(httpContext& ctx, int code, const std::string& body,
                       httpContext::afterAnswer next = httpContext::done);
    static void answer(httpContext& ctx, int code, const Poco::JSON::Object& body,
                       httpContext::afterAnswer next = httpContext::done);
    static std::string compact(const Poco::JSON::Object& body);

    // --- controller and pump table ---------------------------------------------------------
    // The prototype session of the root: settings and the pump table, never commands.
    pcudata::pcuControl& pcu();
    // The pump table, attached on first use. False when it can't be attached.
    bool pumpTable();
    // A command session of this request: connects to the prototype's controller address at
    // once and carries the prototype's workplace number and type. Never null.
    std::unique_ptr<pcudata::pcuControl> newSession();

    // --- the platform ----------------------------------------------------------------------
    // The notices to the platform; their retrying forms log under callerLogger.
    upstream::notices notices(const std::string& callerLogger) const;

private:
    pcudata::pcuControl& proto;
    urlDispatcher& urls;
    const webService& service;
};

}  // namespace azs_apps
