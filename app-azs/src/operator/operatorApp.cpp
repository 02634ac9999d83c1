#include "operatorApp.h"

#include "healthCheck.h"
#include "operatorListener.h"
#include "operatorPage.h"
#include "stationMetrics.h"
#include "statusJson.h"

namespace azs_apps {

namespace {

constexpr const char* JSON = "application/json";
// The page may run its own inline script and style and ask this origin, nothing else.
constexpr const char* PAGE_POLICY =
    "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
    "img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

constexpr const char* METRICS = "text/plain; version=0.0.4";

// The gauges of the scrape, read from the same snapshot as the page.
stationMetrics::gauges gaugesOf(const stationSnapshot& s)
{
    stationMetrics::gauges g;
    g.noticesPending = s.noticesPending;
    g.noticesAbandoned = s.noticesAbandoned;
    g.noticeOldestPendingSeconds = static_cast<double>(s.oldestPendingSec);
    g.controllerUp = s.controller.connected;
    g.pumpTableAgeSeconds = static_cast<double>(s.table.sinceRenewedSec);
    for (const pumpView& p : s.pumps) ++g.pumpsByStatus[p.status];
    for (const orderView& o : s.orders) g.watches += o.stage != "reserved";
    return g;
}

}  // namespace

operatorApp::operatorApp(operatorListener& owner) : owner(owner)
{
    // Counted apart from the platform's routes of the same names.
    urls.assign("^/$", &operatorApp::page, this, "operator/page");
    urls.assign("^/status\\.json$", &operatorApp::status, this, "operator/status.json");
    urls.assign("^/health$", &operatorApp::health, this, "operator/health");
    urls.assign("^/ready$", &operatorApp::ready, this, "operator/ready");
    urls.assign("^/metrics$", &operatorApp::metrics, this, "operator/metrics");
}

bool operatorApp::serve(const std::shared_ptr<httpContext>& ctx, const std::string& path)
{
    return urls.dispatch(path, *ctx);
}

bool operatorApp::onlyGet(httpContext& ctx)
{
    if (ctx.method() == "GET") return true;
    ctx.setHeader("Allow", "GET");
    answer(ctx, 405, "", "");
    return false;
}

void operatorApp::answer(httpContext& ctx, int code, const std::string& type, const std::string& body)
{
    ctx.status(code);
    if (!type.empty()) ctx.contentType(type);
    ctx.setHeader("Cache-Control", "no-store");
    ctx.setHeader("X-Content-Type-Options", "nosniff");
    ctx.out(body);
    ctx.complete(httpContext::done);
}

void operatorApp::page(httpContext& ctx)
{
    if (!onlyGet(ctx)) return;
    ctx.setHeader("Content-Security-Policy", PAGE_POLICY);
    answer(ctx, 200, "text/html; charset=utf-8", operatorPage());
}

void operatorApp::status(httpContext& ctx)
{
    if (!onlyGet(ctx)) return;
    answer(ctx, 200, JSON, statusJson(owner.snapshot()));
}

void operatorApp::health(httpContext& ctx)
{
    if (!onlyGet(ctx)) return;
    const healthAnswer h = healthOf(owner.snapshot());
    answer(ctx, h.code, JSON, h.body);
}

void operatorApp::ready(httpContext& ctx)
{
    if (!onlyGet(ctx)) return;
    const healthAnswer r = readinessOf(owner.isReady());
    answer(ctx, r.code, JSON, r.body);
}

void operatorApp::metrics(httpContext& ctx)
{
    if (!onlyGet(ctx)) return;
    answer(ctx, 200, METRICS, stationMetrics::render(gaugesOf(owner.snapshot())));
}

}  // namespace azs_apps
