#pragma once
// The root application of the operator's listener: its own small URL table, apart from the
// platform's endpoints and their keys.
//   GET /              the page (operatorPage)
//   GET /status.json   the snapshot as JSON (statusJson)
//   GET /health        200 or 503 with the failing checks (healthCheck)
//   GET /ready         200 once the cycle has taken over its orders and listens for the platform
//   GET /metrics       the station's counters and the snapshot's gauges, Prometheus text 0.0.4
// Another method on these paths is answered 405, any other path 404. Every answer is marked not to
// be cached: it is the state of the moment.
#include <memory>
#include <string>

#include "application.h"
#include "httpContext.h"
#include "urlDispatcher.h"

namespace azs_apps {

class operatorListener;

class operatorApp : public application {
public:
    explicit operatorApp(operatorListener& owner);
    bool serve(const std::shared_ptr<httpContext>& ctx, const std::string& path) override;

private:
    operatorListener& owner;
    urlDispatcher urls;

    void page(httpContext& ctx);
    void status(httpContext& ctx);
    void health(httpContext& ctx);
    void ready(httpContext& ctx);
    void metrics(httpContext& ctx);

    // False (with the answer 405 sent) for a method other than GET.
    static bool onlyGet(httpContext& ctx);
    static void answer(httpContext& ctx, int code, const std::string& type, const std::string& body);
};

}  // namespace azs_apps
