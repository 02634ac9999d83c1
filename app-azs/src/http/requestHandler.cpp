#include "requestHandler.h"

#include <exception>
#include <memory>
#include <string>

#include "application.h"
#include "httpConnection.h"
#include "httpContext.h"
#include "requestReader.h"
#include "webService.h"

namespace azs_apps {

namespace {

// How long a client may take to read its answer before the worker gives up on it.
constexpr int64_t WRITE_BUDGET_US = 30000000;

}  // namespace

requestHandler::requestHandler(webService& service, requestReader& reader)
    : service(service), reader(reader), log(Poco::Logger::get("fuelweb"))
{
}

bool requestHandler::belowScript(const std::string& script, const std::string& path, std::string& rest)
{
    if (path.compare(0, script.size(), script) != 0) return false;
    if (path.size() > script.size() && path[script.size()] != '/') return false;
    rest = path.substr(script.size());
    return true;
}

void requestHandler::serve(std::unique_ptr<httpConnection> conn)
{
    std::unique_ptr<httpRequest> request = std::move(conn->request);
    bool keepAlive = request->keepAlive && !service.stopping();
    // The answer goes out on this thread; once it is the last one on the connection, the
    // connection goes back to the reader at once, so the client is released while a handler that
    // answered early keeps working.
    auto send = [this, &conn](const std::string& bytes, bool keepOpen) {
        bool sent = conn->sendAll(bytes, WRITE_BUDGET_US);
        if (!keepOpen || !sent) reader.giveBack(std::move(conn), false);
        return sent;
    };
    auto ctx = std::make_shared<httpContext>(std::move(request), send, keepAlive);
    try {
        route(*ctx, ctx);
    } catch (const std::exception& e) {
        fail(*ctx, e.what());
    } catch (...) {
        fail(*ctx, "unknown exception");
    }
    if (!ctx->isCompleted()) ctx->complete(httpContext::done);
    ctx->close();
    if (conn) reader.giveBack(std::move(conn), true);
}

void requestHandler::route(httpContext& ctx, const std::shared_ptr<httpContext>& shared)
{
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
