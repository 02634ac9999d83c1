#include "callback.h"

#include <Poco/Logger.h>

#include "exceptions.h"
#include "notices.h"
#include "str.h"
#include "timeSource.h"
#include "upstreamTransfer.h"
#include "webService.h"

namespace azs_apps {

// What differs between the two pushes.
struct callback::push {
    stationDocs::document doc;
    const char* logger;
    const char* requested;  // info line of the platform's call
    const char* path;       // below the platform's endpoint
    const char* what;  // "конфигурации АЗС" or "списка цен АЗС", for the attempt lines
};

const callback::push callback::PRICES{stationDocs::document::prices, "fuelweb/callback/prices",
                                      "Запрос на пересылку цен на топливо", "/callback/prices",
                                      "списка цен АЗС"};
const callback::push callback::CONFIG{stationDocs::document::config, "fuelweb/callback/config",
                                      "Запрос на пересылку конфигурации АЗС", "/callback/station",
                                      "конфигурации АЗС"};

namespace {

constexpr int CONNECT_TRIES = 3;
constexpr long TRANSFER_TIMEOUT_SEC = 10;

const char* const HEADERS[] = {"Accept: application/json", "Content-encoding: UTF-8",
                               "Content-Type: application/json", "charset: utf-8", "Content-language: ru"};

// A key goes into the query as it is, except the bytes that would end or split the query or make
// the URL unusable ("#", "&", "+", "=", "%", blanks, control and non-ASCII bytes), which are
// percent-encoded. Ordinary keys, and the "," between the two, reach the platform unchanged.
std::string queryValue(const std::string& value)
{
    return upstream::percentEncoded(value, [](unsigned char c) {
        return c <= 0x20 || c >= 0x7F || c == '#' || c == '&' || c == '+' || c == '=' || c == '%';
    });
}

}  // namespace

callback::callback(const endpointContext& ctx) : master(ctx)
{
    route("^/callback/prices(/?)$", &callback::get_prices, this);
    route("^/callback/config(/?)$", &callback::get_config, this);
    route("^/callback(/?)$", &callback::default_response, this);
}

std::string callback::url() const
{
    return script() + "/callback";
}

void callback::get_prices(httpContext& ctx)
{
    serve(ctx, PRICES);
}

void callback::get_config(httpContext& ctx)
{
    serve(ctx, CONFIG);
}

void callback::default_response(httpContext& ctx)
{
    ctx.status(503);
}

// The caller learns only whether its keys were accepted; what became of the push is in the log.
void callback::serve(httpContext& ctx, const push& p)
{
    Poco::Logger& log = Poco::Logger::get(p.logger);
    std::string apikey = param(ctx, "apikey");
    poco_information(log, p.requested);
    answerHeaders(ctx, false);
    apiKeys keys = apiKeys::parse(apikey, apiKeys::stationOnly);
    if (checkKeys(keys, apiKeys::stationOnly) != apiKeys::ok) {
        poco_error(log, "Ошибка авторизации");
        answer(ctx, 401, "");
        return;
    }
    answer(ctx, 200, "", httpContext::carryOn);

    std::string json;
    if (p.doc == stationDocs::document::prices) {
        if (_gen_prices_block(json) == 0) _send_prices_data(json);
    } else {
        if (_gen_config_block(json) == 0) _send_config_data(json);
    }
}

int callback::_gen_config_block(std::string& out)
{
    return _gen_block(CONFIG, out);
}

int callback::_gen_prices_block(std::string& out)
{
    return _gen_block(PRICES, out);
}

int callback::_gen_block(const push& p, std::string& out)
{
    std::unique_ptr<pcudata::pcuControl> session;
    try {
        session = newSession();
        stationDocs::stamp stamp{cfg.ctlKey, pcudata::str::nowDateTime2Str()};
        session->__try_Ctl_Available(CONNECT_TRIES);
        if (!session->isConnected()) throw Exception("Ошибка подключения к контролеру управления");
        pcudata::acfg_data described;
        int err = 0;
        if (stationDocs::readBlock(*session, p.doc, described, err) != 0)
            throw Exception("Ошибка получения данных конфигурации");
        session->close();
        session.reset();
        out = stationDocs::build(p.doc, described, stamp, stationDocs::withoutHand);
        return 0;
    } catch (const Exception& e) {
        poco_error(Poco::Logger::get(p.logger), e.what());
        if (session) session->close();
        return -1;
    }
}

int64_t callback::_send_config_data(const std::string& json)
{
    return _send_data(CONFIG, json);
}

int64_t callback::_send_prices_data(const std::string& json)
{
    return _send_data(PRICES, json);
}

// A service that is being stopped or restarted gives the push up instead of holding the restart
// for the remaining attempts; the platform may ask again.
int64_t callback::_send_data(const push& p, const std::string& json)
{
    Poco::Logger& log = Poco::Logger::get(p.logger);
    const std::string& endpoint = cfg.platform.endpoint;
    if (endpoint.empty()) {
        poco_error(log, "Не указан URL");
        return 503;
    }
    if (json.empty()) {
        poco_error(log, "Нет данных для отправки");
        return 204;
    }
    const std::string url = endpoint + p.path;
    log.debug("URL : " + url + " JSON : " + json);
    int64_t status = 0;
    for (int attempt = 1; attempt <= PUSH_ATTEMPTS; ++attempt) {
        if (attempt > 1) {
            if (stopping()) {
                poco_warning(log, std::string("Отправка ") + p.what + " прервана остановкой приложения");
                return status;
            }
            pcudata::timeSrc().sleepUs(PUSH_PAUSE_US);
        }
        poco_information(log, std::string("Отправка ") + p.what + " (" + std::to_string(attempt) + "/" +
                                  std::to_string(PUSH_ATTEMPTS) + ")");
        status = _send_data_block(url, json, p.path);
        poco_information(log, "Получен ответ HTTP/" + std::to_string(status));
        if (status == 200) return status;
    }
    poco_error(log, std::string("Отправка ") + p.what + " прекращена после " + std::to_string(PUSH_ATTEMPTS) +
                        " попыток");
    return status;
}

int64_t callback::_send_data_block(const std::string& url, const std::string& json, const char* kind)
{
    Poco::Logger& log = Poco::Logger::get("fuelweb/callback/_send");
    if (url.empty()) return 500;
    try {
        if (upstream::globalInit() != 0) {
            log.debug("Ошибка инициализации объекта ( curl_global_init() err=" +
                      std::to_string(upstream::globalInit()) + " descr=" + upstream::globalInitError() + ")");
            throw Exception("Ошибка инициализации даных для отправки");
        }
        upstream::postRequest req;
        req.url = url + "?apikey=" + queryValue(cfg.upstreamKey) + "," + queryValue(cfg.ctlKey);
        req.body = json;
        req.headers.assign(std::begin(HEADERS), std::end(HEADERS));
        req.timeoutSec = TRANSFER_TIMEOUT_SEC;
        req.kind = kind;
        log.debug("Send forward request endpoint=" + req.url + " json postdata=" + json +
                  " length=" + std::to_string(json.size()));
        upstream::postResult r = upstream::post(req, cfg.platform);
        if (r.result == upstream::postResult::noHandle || r.result == upstream::postResult::setupFailed) {
            log.debug("Ошибка инициализации объекта ( curl_easy_init() )");
            throw Exception("Ошибка инициализации даных для отправки");
        }
        if (r.result == upstream::postResult::transferFailed) {
            log.debug("Error forward request curle_easy_perform() err=" + std::to_string(r.curlCode) +
                      " descr=" + r.error);
        } else {
            log.debug("Get forward request response HTTP/" + std::to_string(r.status));
            if (!r.answer.empty()) log.debug("Ответ платформы: " + r.answer);
        }
        return r.status;
    } catch (const Exception& e) {
        poco_error(log, e.what());
        return 500;
    }
}

}  // namespace azs_apps
