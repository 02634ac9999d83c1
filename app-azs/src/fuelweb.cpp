#include "fuelweb.h"

#include "controllerSettings.h"
#include "str.h"
#include "webConfig.h"
#include "webService.h"

namespace azs_apps {

namespace {

const char* allowedText(bool allowed)
{
    return allowed ? "Разрешено" : "Запрещено";
}

}  // namespace

fuelweb::fuelweb(webService& service)
    : srv(service), log(Poco::Logger::get("fuelweb")), prototype(), m_ping(*this), m_order(*this)
{
    readConfiguration();
    logStartupReport();
    if (srv.config().getBool("service.bench_route", false))
        urls.assign("^/bench/const$", &fuelweb::bench_response, this);
    urls.assign("", &fuelweb::default_response, this);
    // Each mistyped key once per configuration read, by whichever root object meets it first.
    srv.config().logNewWarnings(log);
}

fuelweb::~fuelweb() = default;

std::unique_ptr<application> fuelweb::make(webService& service)
{
    return std::make_unique<fuelweb>(service);
}

void fuelweb::readConfiguration()
{
    const webConfig& cfg = srv.config();
    script = cfg.getString("fuelweb.script", "/api/fuelweb");
    ctl_key = cfg.getString("fuelweb.ctl_key", "");
    upstream = upstreamOf(cfg);
    upstream_key = cfg.getString("fuelweb.upstream_key", "");
    readControllerSettings(cfg, prototype);
}

upstream::settings fuelweb::upstreamOf(const webConfig& cfg)
{
    upstream::settings s;
    s.endpoint = cfg.getString("fuelweb.upstream_endpoint", "");
    s.verifyTls = cfg.getBool("fuelweb.upstream_verify_tls", false);
    s.caFile = cfg.getString("fuelweb.upstream_ca_file", "");
    return s;
}

void fuelweb::logStartupReport()
{
    const pcudata::pcuControl& p = prototype;
    auto bracket = [](const std::string& v) { return " : (" + v + ")"; };
    poco_information(log, "Установлен вид оплаты для \"ТОРВИЛ (Юр. лица)\" " +
                              bracket(std::to_string(p.get_paymnt("Corporation"))));
    poco_information(log, "Установлен вид оплаты для \"ТОРВИЛ (Физ. лица)\"" +
                              bracket(std::to_string(p.get_paymnt("Individual"))));
    poco_information(log,
                     "Вид оплаты для \"ТОРВИЛ\" (по умолчанию)" + bracket(std::to_string(p.get_paymnt())));
    poco_information(log, "Режим постоплаты для \"ТОРВИЛ\"" + bracket(allowedText(p.postpay_allow())));
    poco_information(log, "Таймаут ожидания пуска ТРК" + bracket(std::to_string(p.get_order_timeout())));
    poco_information(log, "Разрешение отпуска с ТРК в режиме автокафе" +
                              bracket(allowedText(p.is_autocafe_order_allow())));
    poco_information(
        log, "Поддержка блокировки ТРК в случае перелива" + bracket(allowedText(p.is_overfill_lock_allow())));
    if (!p.is_overfill_lock_allow()) return;
    poco_information(
        log, "Блокировка ТРК при переливе свыше" + bracket(pcudata::str::dbl2str(p.get_overfill_lock(), 6)));
    poco_information(log, "Мин. объем заказа для блокировки ТРК при переливе" +
                              bracket(pcudata::str::dbl2str(p.get_overfill_lock_min_order(), 6)));
}

bool fuelweb::serve(const std::shared_ptr<httpContext>& request, const std::string& path)
{
    // The context is dropped on every way out, also when a handler throws.
    struct reset {
        std::shared_ptr<httpContext>& ctx;
        ~reset() { ctx.reset(); }
    } guard{ctx};
    ctx = request;
    return urls.dispatch(path);
}

// The service keeps its own reference and completes the answer if the handler does not, so the
// handler may hold the context until it returns.
std::shared_ptr<httpContext> fuelweb::release_context()
{
    return ctx;
}

void fuelweb::default_response()
{
    ctx->status(412);
}

void fuelweb::bench_response()
{
    ctx->status(200);
    ctx->contentType("application/json");
    ctx->out("{\"msg\":\"ok\"}");
    ctx->complete(httpContext::done);
}

}  // namespace azs_apps
