#pragma once
// /station/prices and /station/config: the station's fuel prices and its pump layout (pumps,
// their hoses, the tank and product of each hose), read live from the controller and answered to
// the ordering platform as JSON. The bare /station answers 503.
#include <Poco/Logger.h>

#include <memory>
#include <string>

#include "master.h"
#include "stationDocs.h"

namespace azs_apps {

class station : public master {
public:
    explicit station(const endpointContext& ctx);

    void get_prices(httpContext& ctx);
    void get_config(httpContext& ctx);
    void default_response(httpContext& ctx);

private:
    void serve(httpContext& ctx, stationDocs::document doc, Poco::Logger& log);
    static void closeSession(std::unique_ptr<pcudata::pcuControl>& session);
};

}  // namespace azs_apps
