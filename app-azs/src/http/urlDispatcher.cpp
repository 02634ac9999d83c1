#include "urlDispatcher.h"

#include "httpContext.h"
#include "stationMetrics.h"

namespace azs_apps {

namespace {

bool cut(std::string& s, const std::string& end)
{
    if (s.size() < end.size() || s.compare(s.size() - end.size(), end.size(), end) != 0) return false;
    s.erase(s.size() - end.size());
    return true;
}

}  // namespace

std::string urlDispatcher::routeName(const std::string& pattern)
{
    std::string name = pattern;
    if (!name.empty() && name[0] == '^') name.erase(0, 1);
    cut(name, "$");
    cut(name, "(/?)");
    cut(name, "/?");
    if (!name.empty() && name[0] == '/') name.erase(0, 1);
    return name.empty() ? "root" : name;
}

void urlDispatcher::assign(const std::string& pattern, handler fn, const std::string& name)
{
    const int slot = stationMetrics::routeSlot(name.empty() ? routeName(pattern) : name);
    routes.push_back(
        route{std::regex(pattern, std::regex::ECMAScript | std::regex::optimize), std::move(fn), slot});
}

bool urlDispatcher::dispatch(const std::string& path, httpContext& ctx) const
{
    for (const route& r : routes) {
        if (std::regex_match(path, r.re)) {
            ctx.metricsRoute(r.metricsSlot);
            r.fn(ctx);
            return true;
        }
    }
    return false;
}

}  // namespace azs_apps
