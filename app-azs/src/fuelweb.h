#pragma once
// Root application of the web service. The service's pool makes one such object per request served
// at a time; each object reads the "fuelweb" keys of the configuration, holds the prototype
// controller session (settings and its own attachment of the shared pump table) and owns the
// endpoint applications, which register their URL patterns on this object's dispatcher.
#include <Poco/Logger.h>

#include <memory>
#include <string>

#include "application.h"
#include "callback.h"
#include "canceled.h"
#include "fueling.h"
#include "httpContext.h"
#include "order.h"
#include "pcuControl.h"
#include "ping.h"
#include "station.h"
#include "upstreamTransfer.h"
#include "urlDispatcher.h"
#include "webConfig.h"

namespace azs_apps {

class webService;

class fuelweb : public application {
public:
    explicit fuelweb(webService& service);
    // What the service's pool calls to make root objects.
    static std::unique_ptr<application> make(webService& service);
    ~fuelweb() override;
    fuelweb(const fuelweb&) = delete;
    fuelweb& operator=(const fuelweb&) = delete;

    // Serves one request whose path below the script path is path. False when no pattern matches
    // (the service answers 404 then).
    bool serve(const std::shared_ptr<httpContext>& ctx, const std::string& path) override;

    // Answer to the bare script path: 412 with an empty body.
    void default_response();

    // The platform's address and trust settings of a configuration.
    static upstream::settings upstreamOf(const webConfig& cfg);

    const std::string& get_script() const { return script; }
    const std::string& get_upstream_endpoint() const { return upstream.endpoint; }
    // The platform's address and how far its certificate is trusted.
    const upstream::settings& get_upstream() const { return upstream; }
    const std::string& get_upstream_key() const { return upstream_key; }
    const std::string& get_ctl_key() const { return ctl_key; }
    pcudata::pcuControl& pcu() { return prototype; }
    urlDispatcher& dispatcher() { return urls; }
    webService& service() { return srv; }

    // The request being served (see master).
    std::shared_ptr<httpContext> release_context();
    httpContext& context() { return *ctx; }

private:
    // --- framework part: service, dispatcher, request being served --------------------------
    webService& srv;
    urlDispatcher urls;
    std::shared_ptr<httpContext> ctx;
    Poco::Logger& log;

    // --- configuration values and the prototype controller session ----------------------------
    std::string script;
    upstream::settings upstream;
    std::string upstream_key;
    std::string ctl_key;
    pcudata::pcuControl prototype;

    // --- endpoint applications, built in this order (each registers its patterns) -------------
    ping m_ping;
    station m_station{*this};    // /station, /station/prices, /station/config
    order m_order;               // /order
    fueling m_fueling{*this};    // /fueling
    canceled m_canceled{*this};  // /canceled
    callback m_callback{*this};  // /callback, /callback/prices, /callback/config

    void readConfiguration();
    void logStartupReport();
    // Constant answer of the benchmark route, the ceiling of what the HTTP layer can serve.
    void bench_response();
};

}  // namespace azs_apps
