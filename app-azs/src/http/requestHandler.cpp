#include "requestHandler.h"

#include <exception>
#include <memory>
#include <string>

#include "application.h"
#include "httpContext.h"
#include "webService.h"

namespace azs_apps {

requestHandler::requestHandler(webService& service) : service(service), log(Poco::Logger::get("fuelweb")) {}

bool requestHandler::belowScript(const std::string& script, const std::string& path, std::string& rest)
{
    if (path.compare(0, script.size(), script) != 0) return false;
    if (path.size() > script.size() && path[script.size()] != '/') return false;
    rest = path.substr(script.size());
    return true;
}

void requestHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                   Poco::Net::HTTPServerResponse& response)
{
    auto ctx = std::make_shared<httpContext>(request, response);
    try {
        serve(*ctx, ctx);
    } catch (const std::exception& e) {
        fail(*ctx, e.what());
    } catch (...) {
        fail(*ctx, "unknown exception");
    }
    if (!ctx->isCompleted()) ctx->complete(httpContext::done);
    ctx->close();
}

void requestHandler::serve(httpContext& ctx, const std::shared_ptr<httpContext>& shared)
{
    // A body beyond the limit is not read to its end, so the connection can't be reused.
    if (!ctx.readBody()) {
        poco_warning(log, "Запрос " + ctx.method() + " " + ctx.path() + " отклонен (413): тело длиннее " +
                              std::to_string(httpContext::BODY_LIMIT) + " байт");
        ctx.status(413);
        ctx.complete(httpContext::carryOn);
        return;
    }
    std::string rest;
    if (!belowScript(service.script(), ctx.path(), rest)) {
        ctx.status(404);
        return;
    }
    appPool::lease app = service.apps().acquire();
    if (!app->serve(shared, rest)) ctx.status(404);
}

// A handler that throws has failed its request: the client gets 500 unless it already has its
// answer, and the operator gets the reason.
void requestHandler::fail(httpContext& ctx, const std::string& what)
{
    poco_error(log, "Ошибка обработки запроса " + ctx.method() + " " + ctx.path() + " : " + what);
    if (ctx.isCompleted()) return;
    ctx.status(500);
    ctx.outBody().clear();
    ctx.complete(httpContext::carryOn);
}

}  // namespace azs_apps
