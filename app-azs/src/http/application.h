#pragma once
// Base of the root application objects that the service's pool hands out. The pool serves one
// request at a time on each object and reuses objects between requests; what an object does with
// a request (routing, endpoints, settings) is the application's own business.
#include <memory>
#include <string>

namespace azs_apps {

class httpContext;
class webService;

class application {
public:
    virtual ~application() = default;
    // Serves one request whose path below the script path is path ("" for the script path itself).
    // False when nothing is there (the service answers 404 then).
    virtual bool serve(const std::shared_ptr<httpContext>& ctx, const std::string& path) = 0;
};

}  // namespace azs_apps
