#pragma once
// A service whose every application object answers a few test routes, for the tests of the HTTP
// front (framing, slow clients): unlike the root application, whose routes a test can add only to
// the objects that exist, every object made by the pool here knows them.
//   /echo  answers "METHOD|body" at once
//   /long  answers "early" at once, then keeps working until released
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "application.h"
#include "httpContext.h"
#include "webConfig.h"
#include "webService.h"

namespace webtest {

struct routeState {
    std::atomic<int> echoCalls{0};
    std::atomic<bool> longStarted{false};
    std::atomic<bool> releaseLong{false};
    std::atomic<bool> longDone{false};
    std::atomic<long> longTicks{0};  // rounds of work the long handler did after its answer
};

class routeApp : public azs_apps::application {
public:
    explicit routeApp(routeState& state) : state(state) {}
    bool serve(const std::shared_ptr<azs_apps::httpContext>& ctx, const std::string& path) override
    {
        if (path == "/echo") {
            ++state.echoCalls;
            ctx->out(ctx->method() + "|" + ctx->rawBody());
            ctx->complete(azs_apps::httpContext::done);
            return true;
        }
        if (path == "/long") {
            ctx->out("early");
            ctx->complete(azs_apps::httpContext::carryOn);
            state.longStarted = true;
            while (!state.releaseLong) {
                ++state.longTicks;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            state.longDone = true;
            return true;
        }
        return false;
    }

private:
    routeState& state;
};

// A webService with routeApp objects on a free loopback port, served by a thread of its own.
class routeService {
public:
    explicit routeService(const std::string& serviceMembers = "")
    {
        std::string cfg = "{\"service\":{\"ip\":\"127.0.0.1\",\"port\":0,\"worker_threads\":8" +
                          (serviceMembers.empty() ? "" : "," + serviceMembers) + "}}";
        svc = std::make_unique<azs_apps::webService>(
            azs_apps::serviceSettings::read(azs_apps::webConfig::fromText(cfg)), "/api/fuelweb",
            [this](azs_apps::webService&) { return std::make_unique<routeApp>(routes); });
        svc->start();
        runner = std::thread([this] { svc->run(); });
    }
    ~routeService()
    {
        routes.releaseLong = true;
        svc->shutdown();
        runner.join();
        svc.reset();
    }
    routeService(const routeService&) = delete;
    routeService& operator=(const routeService&) = delete;

    uint16_t port() const { return svc->port(); }
    routeState routes;

private:
    std::unique_ptr<azs_apps::webService> svc;
    std::thread runner;
};

}  // namespace webtest
