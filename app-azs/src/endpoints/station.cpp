#include "station.h"

#include "exceptions.h"
#include "str.h"

namespace azs_apps {

namespace {

// Attempts to reach the controller after the session's own first one, one second apart.
constexpr int CONNECT_TRIES = 3;

}  // namespace

station::station(const endpointContext& ctx) : master(ctx)
{
    route("^/station/prices(/?)$", &station::get_prices, this);
    route("^/station/config(/?)$", &station::get_config, this);
    route("^/station(/?)$", &station::default_response, this);
}

void station::get_prices(httpContext& ctx)
{
    serve(ctx, stationDocs::document::prices, Poco::Logger::get("fuelweb/prices"));
}

void station::get_config(httpContext& ctx)
{
    serve(ctx, stationDocs::document::config, Poco::Logger::get("fuelweb/config"));
}

void station::default_response(httpContext& ctx)
{
    ctx.status(503);
}

// The status of the answer climbs with the steps passed: 500 until the keys are checked, 401 for
// the keys, 500 for the controller's connection, 404 for its data, 200 with the document.
void station::serve(httpContext& ctx, stationDocs::document doc, Poco::Logger& log)
{
    std::string apikey = param(ctx, "apikey");
    // Both documents are asked for in the same words.
    poco_information(log, "Запрос на получение цен на топливо");
    int status = 500;
    answerHeaders(ctx);
    std::unique_ptr<pcudata::pcuControl> session;
    try {
        status = 401;
        apiKeys keys = apiKeys::parse(apikey, apiKeys::stationOnly);
        if (checkKeys(keys, apiKeys::stationOnly) != apiKeys::ok) throw Exception("Ошибка авторизации");
        session = newSession();
        stationDocs::stamp stamp{cfg.ctlKey, pcudata::str::nowDateTime2Str()};
        session->__try_Ctl_Available(CONNECT_TRIES);
        if (!session->isConnected()) {
            status = 500;
            throw Exception("Ошибка подключения к контролеру управления");
        }
        status = 404;
        pcudata::acfg_data described;
        int err = 0;
        if (stationDocs::readBlock(*session, doc, described, err) != 0)
            throw Exception("Ошибка получения данных конфигурации");
        status = 200;
        closeSession(session);
        answer(ctx, status, stationDocs::build(doc, described, stamp, stationDocs::withHand));
    } catch (const Exception& e) {
        poco_error(log, e.what());
        answer(ctx, status, "");
        closeSession(session);
    }
}

void station::closeSession(std::unique_ptr<pcudata::pcuControl>& session)
{
    if (!session) return;
    session->close();
    session.reset();
}

}  // namespace azs_apps
