// Which handler a path reaches: the pattern table below the script path, the answers of the
// service itself (412 for the bare script path, 404 for anything unknown), and the request
// context's parameters and early answer.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fuelweb.h"
#include "httpContext.h"
#include "httpRequest.h"
#include "requestHandler.h"
#include "urlDispatcher.h"
#include "webTestSupport.h"

using azs_apps::requestHandler;
using azs_apps::urlDispatcher;

namespace {

TEST(UrlDispatcher, OptionalTrailingSlashAndWholePathMatch)
{
    azs_apps::httpContext ctx(std::make_unique<azs_apps::httpRequest>(), nullptr, false);
    urlDispatcher d;
    std::string hit;
    d.assign("^/order(/?)$", [&](azs_apps::httpContext&) { hit = "order"; });
    d.assign("", [&](azs_apps::httpContext&) { hit = "root"; });
    EXPECT_TRUE(d.dispatch("/order", ctx));
    EXPECT_EQ(hit, "order");
    hit.clear();
    EXPECT_TRUE(d.dispatch("/order/", ctx));
    EXPECT_EQ(hit, "order");
    EXPECT_FALSE(d.dispatch("/orders", ctx));
    EXPECT_FALSE(d.dispatch("/order//", ctx));
    EXPECT_FALSE(d.dispatch("/", ctx));
    EXPECT_TRUE(d.dispatch("", ctx));
    EXPECT_EQ(hit, "root");
}

TEST(UrlDispatcher, FirstRegisteredPatternWins)
{
    azs_apps::httpContext ctx(std::make_unique<azs_apps::httpRequest>(), nullptr, false);
    urlDispatcher d;
    std::string hit;
    d.assign("^/station/prices(/?)$", [&](azs_apps::httpContext&) { hit = "prices"; });
    d.assign("^/station.*$", [&](azs_apps::httpContext&) { hit = "any"; });
    d.dispatch("/station/prices", ctx);
    EXPECT_EQ(hit, "prices");
    d.dispatch("/station/config", ctx);
    EXPECT_EQ(hit, "any");
}

TEST(UrlDispatcher, PathBelowTheScriptPath)
{
    std::string rest;
    EXPECT_TRUE(requestHandler::belowScript("/api/fuelweb", "/api/fuelweb", rest));
    EXPECT_EQ(rest, "");
    EXPECT_TRUE(requestHandler::belowScript("/api/fuelweb", "/api/fuelweb/ping/", rest));
    EXPECT_EQ(rest, "/ping/");
    EXPECT_FALSE(requestHandler::belowScript("/api/fuelweb", "/api/fuelwebx/ping", rest));
    EXPECT_FALSE(requestHandler::belowScript("/api/fuelweb", "/api/fuel", rest));
}

class ServiceRouting : public ::testing::Test {
protected:
    static std::unique_ptr<webtest::runningService> svc;
    static void SetUpTestSuite()
    {
        svc = std::make_unique<webtest::runningService>(
            webtest::configWith("\"tmp_path\":\"/nonexistent\"", "\"bench_route\":true"));
    }
    static void TearDownTestSuite() { svc.reset(); }
    uint16_t port() { return svc->port(); }
};
std::unique_ptr<webtest::runningService> ServiceRouting::svc;

TEST_F(ServiceRouting, BareScriptPathAnswers412WithEmptyBody)
{
    webtest::httpReply r = webtest::httpGet(port(), "/api/fuelweb");
    EXPECT_EQ(r.status, 412);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(webtest::httpGet(port(), "/api/fuelweb?apikey=x").status, 412);
}

TEST_F(ServiceRouting, UnknownPathsAnswer404)
{
    EXPECT_EQ(webtest::httpGet(port(), "/api/fuelweb/").status, 404);
    EXPECT_EQ(webtest::httpGet(port(), "/api/fuelweb/pings").status, 404);
    EXPECT_EQ(webtest::httpGet(port(), "/api/fuelweb/orders").status, 404);
    EXPECT_EQ(webtest::httpGet(port(), "/api/fuelwebping").status, 404);
    EXPECT_EQ(webtest::httpGet(port(), "/other").status, 404);
}

TEST_F(ServiceRouting, PingWithAndWithoutTrailingSlashReachesTheHandler)
{
    // Without a pump number the handler itself answers 400.
    EXPECT_EQ(webtest::httpGet(port(), "/api/fuelweb/ping").status, 400);
    EXPECT_EQ(webtest::httpGet(port(), "/api/fuelweb/ping/").status, 400);
    EXPECT_EQ(webtest::httpPost(port(), "/api/fuelweb/ping", "text/plain", "x").status, 400);
}

TEST_F(ServiceRouting, BenchRouteAnswersAConstant)
{
    webtest::httpReply r = webtest::httpGet(port(), "/api/fuelweb/bench/const");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "{\"msg\":\"ok\"}");
}

TEST(ServiceRoutingConfig, BenchRouteIsHiddenByDefaultAndScriptPathIsConfigurable)
{
    webtest::runningService svc(webtest::configWith("\"script\":\"/fw\""));
    EXPECT_EQ(webtest::httpGet(svc.port(), "/fw/bench/const").status, 404);
    EXPECT_EQ(webtest::httpGet(svc.port(), "/fw").status, 412);
    EXPECT_EQ(webtest::httpGet(svc.port(), "/api/fuelweb").status, 404);
}

// The pool hands out the framework's application type; these tests register routes on the root.
azs_apps::fuelweb& rootOf(azs_apps::appPool::lease& app)
{
    return static_cast<azs_apps::fuelweb&>(*app);
}

TEST(ServiceRoutingConfig, ObjectsAreMadeOnDemandAndReused)
{
    webtest::runningService svc(webtest::configWith(""));
    for (int i = 0; i < 5; ++i) webtest::httpGet(svc.port(), "/api/fuelweb");
    EXPECT_EQ(svc.service().apps().created(), 1u);
}

// A handler that answers early and keeps working: the client has the whole answer before the
// handler returns, and the connection is not kept for it.
TEST(RequestContext, EarlyAnswerReachesTheClientWhileTheHandlerWorks)
{
    webtest::runningService svc(webtest::configWith(""));
    std::atomic<bool> answered{false};
    std::atomic<bool> handlerDone{false};
    // The pool makes its first object on the first request; register on that object afterwards.
    webtest::httpGet(svc.port(), "/api/fuelweb");
    {
        auto app = svc.service().apps().acquire();
        rootOf(app).dispatcher().assign("^/slow$", [&](azs_apps::httpContext& ctx) {
            ctx.status(200);
            ctx.out("early");
            ctx.complete();
            while (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            handlerDone = true;
        });
    }
    webtest::httpReply r = webtest::httpGet(svc.port(), "/api/fuelweb/slow");
    EXPECT_FALSE(handlerDone);
    answered = true;
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "early");
    EXPECT_EQ(r.connection, "Close");
}

TEST(RequestContext, QueryAndFormParametersAndRawBody)
{
    webtest::runningService svc(webtest::configWith(""));
    webtest::httpGet(svc.port(), "/api/fuelweb");
    std::string seen;
    {
        auto app = svc.service().apps().acquire();
        rootOf(app).dispatcher().assign("^/echo$", [&](azs_apps::httpContext& c) {
            seen = c.method() + "|" + c.get("q") + "|" + c.post("f") + "|" + c.rawBody();
        });
    }
    webtest::httpGet(svc.port(), "/api/fuelweb/echo?q=a%20b&q=second");
    EXPECT_EQ(seen, "GET|a b||");
    webtest::httpPost(svc.port(), "/api/fuelweb/echo?q=1", "application/x-www-form-urlencoded", "f=x+y&g=2");
    EXPECT_EQ(seen, "POST|1|x y|f=x+y&g=2");
    webtest::httpPost(svc.port(), "/api/fuelweb/echo", "application/json", "{\"f\":1}");
    EXPECT_EQ(seen, "POST|||{\"f\":1}");
}

// Many HTTP clients send a form as multipart/form-data; its plain fields count like those of an
// URL-encoded body, file parts are not form fields.
TEST(RequestContext, MultipartFormFieldsAreReadAndFilePartsSkipped)
{
    webtest::runningService svc(webtest::configWith(""));
    webtest::httpGet(svc.port(), "/api/fuelweb");
    std::string seen;
    {
        auto app = svc.service().apps().acquire();
        rootOf(app).dispatcher().assign("^/echo$", [&](azs_apps::httpContext& c) {
            seen = c.get("f") + "|" + c.post("f") + "|" + c.post("upload");
        });
    }
    const std::string body =
        "--XyZ\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\nvalue 1\r\n"
        "--XyZ\r\nContent-Disposition: form-data; name=\"upload\"; filename=\"a.txt\"\r\n"
        "Content-Type: text/plain\r\n\r\nfile\r\n--XyZ--\r\n";
    webtest::httpPost(svc.port(), "/api/fuelweb/echo?f=q", "multipart/form-data; boundary=XyZ", body);
    EXPECT_EQ(seen, "q|value 1|");
    webtest::httpPost(svc.port(), "/api/fuelweb/echo", "multipart/form-data; boundary=other", body);
    EXPECT_EQ(seen, "||");
}

TEST(RequestContext, HandlerThatThrowsGets500AndBodyOverLimitGets413)
{
    webtest::logCapture logs;
    webtest::runningService svc(webtest::configWith(""));
    webtest::httpGet(svc.port(), "/api/fuelweb");
    {
        auto app = svc.service().apps().acquire();
        rootOf(app).dispatcher().assign("^/boom$",
                                        [](azs_apps::httpContext&) { throw std::runtime_error("boom"); });
    }
    EXPECT_EQ(webtest::httpGet(svc.port(), "/api/fuelweb/boom").status, 500);
    std::string big(azs_apps::httpContext::BODY_LIMIT + 10, 'a');
    EXPECT_EQ(webtest::httpPost(svc.port(), "/api/fuelweb/boom", "text/plain", big).status, 413);
    // The operator sees the refusal and the request it concerns.
    auto logged = [&](int prio, const std::string& part) {
        for (const webtest::logLine& l : logs.lines())
            if (l.source == "fuelweb" && l.prio == prio &&
                l.text.find("POST /api/fuelweb/boom") != std::string::npos &&
                l.text.find(part) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(logged(Poco::Message::PRIO_WARNING, "(413)"));
}

}  // namespace
