#pragma once
// Root application of the web service. The service's pool makes one such object per request served
// at a time; each object holds the prototype controller session (the cycle's controller settings
// and its own attachment of the shared pump table) and owns the endpoint applications, which it
// builds with what they may use and which register their URL patterns on this object's dispatcher.
#include <Poco/Logger.h>

#include <memory>
#include <string>

#include "application.h"
#include "callback.h"
#include "canceled.h"
#include "fueling.h"
#include "httpContext.h"
#include "master.h"
#include "order.h"
#include "pcuControl.h"
#include "ping.h"
#include "settings.h"
#include "station.h"
#include "urlDispatcher.h"
#include "webService.h"

namespace azs_apps {

class fuelweb : public application {
public:
    // cfg: the settings of the service's cycle; they outlive the service.
    fuelweb(webService& service, const settings& cfg);
    ~fuelweb() override;
    fuelweb(const fuelweb&) = delete;
    fuelweb& operator=(const fuelweb&) = delete;

    // What the service's pool calls to make root objects.
    static webService::appFactory factory(std::shared_ptr<const settings> cfg);
    // The service of a cycle with these settings (the HTTP part, the script path, root objects).
    static std::unique_ptr<webService> service(std::shared_ptr<const settings> cfg);

    // Serves one request whose path below the script path is path. False when no pattern matches
    // (the service answers 404 then).
    bool serve(const std::shared_ptr<httpContext>& ctx, const std::string& path) override;

    // Answer to the bare script path: 412 with an empty body.
    void default_response(httpContext& ctx);

    // What this object runs with: the cycle's settings and its prototype controller session.
    const settings& config() const { return cfg; }
    pcudata::pcuControl& pcu() { return prototype; }
    // The object's URL table (tests add routes of their own to it).
    urlDispatcher& dispatcher() { return urls; }

private:
    const settings& cfg;
    urlDispatcher urls;
    Poco::Logger& log;
    pcudata::pcuControl prototype;
    endpointContext given;

    // --- endpoint applications, built in this order (each registers its patterns) -------------
    ping m_ping{given};
    station m_station{given};    // /station, /station/prices, /station/config
    order m_order{given};        // /order
    fueling m_fueling{given};    // /fueling
    canceled m_canceled{given};  // /canceled
    callback m_callback{given};  // /callback, /callback/prices, /callback/config

    void logStartupReport();
    // Constant answer of the benchmark route, the ceiling of what the HTTP layer can serve.
    void bench_response(httpContext& ctx);
};

}  // namespace azs_apps
