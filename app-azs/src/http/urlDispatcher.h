#pragma once
// Ordered table of path patterns below the service's script path. The first pattern that matches
// the whole remaining path wins, so the order of registration is the order of precedence.
//
// Each root application object owns its own table with handlers bound to its own endpoint objects;
// a table is filled when its owner is built and only read afterwards.
#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace azs_apps {

class httpContext;

class urlDispatcher {
public:
    // A handler is given the request it serves.
    using handler = std::function<void(httpContext&)>;

    // Adds a pattern (ECMAScript regular expression matched against the whole path). The requests
    // it serves are counted under name, or under the name routeName() makes of the pattern.
    void assign(const std::string& pattern, handler fn, const std::string& name = std::string());
    // The same for a member handler of an endpoint object.
    template <class App>
    void assign(const std::string& pattern, void (App::*fn)(httpContext&), App* app,
                const std::string& name = std::string())
    {
        assign(
            pattern, [app, fn](httpContext& ctx) { (app->*fn)(ctx); }, name);
    }

    // Runs the handler of the first matching pattern on ctx, and tells ctx the route it took.
    // False when none matches.
    bool dispatch(const std::string& path, httpContext& ctx) const;

    // The endpoint a pattern stands for: "^/callback/prices(/?)$" is "callback/prices", the empty
    // pattern (the bare script path) "root".
    static std::string routeName(const std::string& pattern);

    size_t size() const { return routes.size(); }

private:
    struct route {
        std::regex re;
        handler fn;
        int metricsSlot;
    };
    std::vector<route> routes;
};

}  // namespace azs_apps
