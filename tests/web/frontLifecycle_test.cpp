// The front across a restart: the old cycle stops listening at once (the new one binds the same
// port) while its handler that answered early keeps working, and a stopping service closes the
// connections that wait for a request instead of waiting for them.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "frontTestSupport.h"
#include "rawClient.h"
#include "webTestSupport.h"

namespace {

using clock_type = std::chrono::steady_clock;

std::unique_ptr<azs_apps::webService> serviceOn(uint16_t port, webtest::routeState& routes)
{
    std::string cfg =
        "{\"service\":{\"ip\":\"127.0.0.1\",\"port\":" + std::to_string(port) + ",\"worker_threads\":4}}";
    return std::make_unique<azs_apps::webService>(
        azs_apps::serviceSettings::read(azs_apps::webConfig::fromText(cfg)), "/api/fuelweb",
        [&routes](azs_apps::webService&) { return std::make_unique<webtest::routeApp>(routes); });
}

TEST(FrontLifecycle, NextCycleBindsThePortWhileTheOldOneFinishesItsWork)
{
    uint16_t port = webtest::freePort();
    webtest::routeState oldRoutes, newRoutes;
    auto oldSvc = serviceOn(port, oldRoutes);
    oldSvc->start();
    std::thread oldRun([&] { oldSvc->run(); });

    webtest::rawClient longClient(port);
    longClient.send("GET /api/fuelweb/long HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_EQ(longClient.read().body, "early");
    webtest::rawClient waiting(port);  // connected, nothing sent yet

    oldSvc->shutdown();
    oldRun.join();
    auto newSvc = serviceOn(port, newRoutes);
    ASSERT_NO_THROW(newSvc->start());
    std::thread newRun([&] { newSvc->run(); });
    EXPECT_EQ(webtest::httpGet(port, "/api/fuelweb/echo").body, "GET|");
    EXPECT_FALSE(oldRoutes.longDone);

    // Releasing the old cycle closes its waiting connection and waits for the long handler.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        oldRoutes.releaseLong = true;
    });
    oldSvc.reset();
    release.join();
    EXPECT_TRUE(oldRoutes.longDone);
    EXPECT_TRUE(waiting.closedWithin(1000));

    newSvc->shutdown();
    newRun.join();
}

TEST(FrontLifecycle, StopDoesNotWaitForClientsThatSendNothing)
{
    auto t = clock_type::now();
    std::vector<std::unique_ptr<webtest::rawClient>> clients;
    {
        webtest::routeService svc("\"read_timeout\":60");
        for (int i = 0; i < 20; ++i) {
            clients.push_back(std::make_unique<webtest::rawClient>(svc.port()));
            clients.back()->send(i % 2 ? "GET /api/fuelweb/echo HTTP/1.1\r\n" : "");
        }
        webtest::rawClient kept(svc.port());
        kept.send("GET /api/fuelweb/echo HTTP/1.1\r\nHost: x\r\n\r\n");
        ASSERT_EQ(kept.read().status, 200);
    }
    EXPECT_LT(std::chrono::duration<double>(clock_type::now() - t).count(), 5.0);
    for (auto& c : clients) EXPECT_TRUE(c->closedWithin(1000));
}

}  // namespace
