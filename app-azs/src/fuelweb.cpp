#include "fuelweb.h"

#include "str.h"
#include "webService.h"

namespace azs_apps {

namespace {

const char* allowedText(bool allowed)
{
    return allowed ? "Разрешено" : "Запрещено";
}

// The prototype with the cycle's controller settings, before the endpoints are given it.
pcudata::pcuControl& prepared(pcudata::pcuControl& prototype, const settings& cfg)
{
    cfg.controller.applyTo(prototype);
    return prototype;
}

}  // namespace

fuelweb::fuelweb(webService& service, const settings& cfg)
    : cfg(cfg),
      log(Poco::Logger::get("fuelweb")),
      prototype(),
      given{cfg, prepared(prototype, cfg), urls, service}
{
    logStartupReport();
    if (cfg.benchRoute) urls.assign("^/bench/const$", &fuelweb::bench_response, this);
    urls.assign("", &fuelweb::default_response, this);
}

fuelweb::~fuelweb() = default;

webService::appFactory fuelweb::factory(std::shared_ptr<const settings> cfg)
{
    return [cfg](webService& service) { return std::make_unique<fuelweb>(service, *cfg); };
}

std::unique_ptr<webService> fuelweb::service(std::shared_ptr<const settings> cfg)
{
    return std::make_unique<webService>(cfg->service, cfg->script, factory(cfg));
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
    return urls.dispatch(path, *request);
}

void fuelweb::default_response(httpContext& ctx)
{
    ctx.status(412);
}

void fuelweb::bench_response(httpContext& ctx)
{
    ctx.status(200);
    ctx.contentType("application/json");
    ctx.out("{\"msg\":\"ok\"}");
    ctx.complete(httpContext::done);
}

}  // namespace azs_apps
