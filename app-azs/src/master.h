#pragma once
// Base of the endpoint applications (ping, station, order, fueling, canceled, callback). An
// endpoint object belongs to one root application object and reaches through it the configuration
// values, the prototype controller session, the URL dispatcher and the request being served.
#include <memory>

#include "httpContext.h"

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
};

}  // namespace azs_apps
