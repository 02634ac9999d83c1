#pragma once
// Base of the endpoint applications (ping, station, order, fueling, canceled, callback) and their
// toolkit. An endpoint object belongs to one root application object and reaches through it the
// configuration values, the prototype controller session, the URL dispatcher and the request
// being served; what every endpoint does with a request (read parameters and keys, answer in
// JSON, open a controller session of its own) is written here once.
#include <Poco/JSON/Object.h>

#include <memory>
#include <string>

#include "apiKeys.h"
#include "httpContext.h"
#include "notices.h"
#include "pcuControl.h"

namespace azs_apps {

class fuelweb;

class master {
public:
    explicit master(fuelweb& root) : root(root) {}
    virtual ~master() = default;
    master(const master&) = delete;
    master& operator=(const master&) = delete;

protected:
    fuelweb& root;

    // Takes the request being served away from the root application: the handler answers and
    // completes it itself and holds it until it returns.
    std::shared_ptr<httpContext> release_context();
    // The request being served, left with the root (the service completes it after the handler).
    httpContext& context();

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
};

}  // namespace azs_apps
