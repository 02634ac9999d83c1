#include "urlDispatcher.h"

namespace azs_apps {

void urlDispatcher::assign(const std::string& pattern, handler fn)
{
    routes.push_back(
        route{std::regex(pattern, std::regex::ECMAScript | std::regex::optimize), std::move(fn)});
}

bool urlDispatcher::dispatch(const std::string& path, httpContext& ctx) const
{
    for (const route& r : routes) {
        if (std::regex_match(path, r.re)) {
            r.fn(ctx);
            return true;
        }
    }
    return false;
}

}  // namespace azs_apps
