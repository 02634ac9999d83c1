#include "master.h"

#include "compactJson.h"
#include "exceptions.h"
#include "str.h"

namespace azs_apps {

std::string master::param(httpContext& ctx, const std::string& name)
{
    std::string value = ctx.get(name);
    if (ctx.method() == "POST") {
        std::string posted = ctx.post(name);
        if (!posted.empty()) value = posted;
    }
    return value;
}

apiKeys::verdict master::checkKeys(const apiKeys& keys, apiKeys::layout l) const
{
    return keys.check(l, cfg.upstreamKey, cfg.ctlKey);
}

void master::requireOrderKeys(const apiKeys& keys) const
{
    switch (checkKeys(keys, apiKeys::withClient)) {
        case apiKeys::ok:
            return;
        case apiKeys::badClient:
            throw ExceptionHTTP("Ошибка авторизации (ключ приложения)", 401);
        case apiKeys::badServer:
            throw ExceptionHTTP("Ошибка авторизации (ключ сервера)", 401);
        case apiKeys::badStation:
            throw ExceptionHTTP("Ошибка авторизации (ключ АЗС)", 401);
    }
}

void master::requireRecordWidths(const std::string& orderId, const std::string& clientKey)
{
    const std::string most = std::to_string(pcudata::TRK_TEXT_SIZE - 1);
    if (orderId.size() >= pcudata::TRK_TEXT_SIZE)
        throw ExceptionHTTP("Номер заказа длиннее " + most + " байт (поле id)", 400);
    if (clientKey.size() >= pcudata::TRK_TEXT_SIZE)
        throw ExceptionHTTP("Ключ приложения длиннее " + most + " байт (первая часть apikey)", 400);
}

void master::answerHeaders(httpContext& ctx, bool json)
{
    ctx.contentEncoding("utf-8");
    ctx.contentLanguage("ru");
    if (json) ctx.contentType("application/json");
}

void master::answer(httpContext& ctx, int code, const std::string& body, httpContext::afterAnswer next)
{
    ctx.status(code);
    ctx.out(body);
    ctx.complete(next);
}

void master::answer(httpContext& ctx, int code, const Poco::JSON::Object& body, httpContext::afterAnswer next)
{
    answer(ctx, code, compact(body), next);
}

// Texts from the controller (its TXT of a refusal, say) come in whatever encoding it uses, and the
// writer copies their bytes as they are: the answer is made valid UTF-8, or the platform could not
// read it at all.
std::string master::compact(const Poco::JSON::Object& body)
{
    return pcudata::str::validUtf8(compactJson(body));
}

pcudata::pcuControl& master::pcu()
{
    return proto;
}

bool master::pumpTable()
{
    return proto.is_shm() || proto.shmInit() == 0;
}

std::unique_ptr<pcudata::pcuControl> master::newSession()
{
    return proto.newSession();
}

upstream::notices master::notices(const std::string& callerLogger) const
{
    return upstream::notices(cfg.platform, callerLogger);
}

}  // namespace azs_apps
