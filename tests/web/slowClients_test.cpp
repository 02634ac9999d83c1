// Clients that send nothing, or send their request slowly, take no worker: /ping keeps answering
// at once and a handler that answered early keeps working, however many of them are connected;
// each of them gets 408 once the read time-out is over.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "frontTestSupport.h"
#include "fuelweb.h"
#include "rawClient.h"
#include "webTestSupport.h"

namespace {

using clock_type = std::chrono::steady_clock;

double msSince(clock_type::time_point t)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - t).count();
}

// Kinds of clients that hold a connection without completing a request.
enum slowKind { silent, partialHead, partialBody, trickling };

std::unique_ptr<webtest::rawClient> slowClient(uint16_t port, slowKind kind)
{
    auto c = std::make_unique<webtest::rawClient>(port);
    if (kind == partialHead || kind == trickling)
        c->send("GET /api/fuelweb/ping?columnId=1 HTTP/1.1\r\nHost: x\r\nX-Slow: ");
    else if (kind == partialBody)
        c->send("POST /api/fuelweb/ping HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\ncolumnId=1");
    return c;
}

TEST(SlowClients, TwoHundredSlowOrSilentClientsDelayNeitherPingNorALongHandler)
{
    webtest::tempDir dir;
    webtest::segmentView seg(dir.keyFile());
    seg.publish(1);
    // Few workers, and a read time-out longer than the test: only the reading stage can hold the
    // slow clients.
    webtest::runningService svc(webtest::configWith(
        "\"upstream_key\":\"srv\",\"ctl_key\":\"azs\",\"tmp_path\":\"" + dir.path() + "\"",
        "\"read_timeout\":60"));
    const std::string ping = "/api/fuelweb/ping?apikey=client,srv,azs&columnId=1";

    // A handler that answers early and keeps working, like a delivery watch.
    std::atomic<bool> release{false};
    std::atomic<bool> done{false};
    std::atomic<long> ticks{0};
    ASSERT_EQ(webtest::httpGet(svc.port(), ping).status, 200);
    // The route goes to the one object the pool has made, once the ping's worker has given it back.
    azs_apps::appPool& apps = svc.service().apps();
    for (int i = 0; i < 300 && apps.idle() < apps.created(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(apps.created(), 1u);
    {
        azs_apps::appPool::lease app = apps.acquire();
        auto* root = static_cast<azs_apps::fuelweb*>(&*app);
        root->dispatcher().assign("^/long$", [&](azs_apps::httpContext& ctx) {
            ctx.out("early");
            ctx.complete();
            while (!release) {
                ++ticks;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            done = true;
        });
    }
    webtest::rawClient longClient(svc.port());
    longClient.send("GET /api/fuelweb/long HTTP/1.1\r\nHost: x\r\n\r\n");
    webtest::rawAnswer early = longClient.read();
    ASSERT_EQ(early.body, "early");
    EXPECT_TRUE(longClient.closedWithin(3000));  // the client is released while the handler works

    std::vector<std::unique_ptr<webtest::rawClient>> slow;
    for (int i = 0; i < 200; ++i) {
        slow.push_back(slowClient(svc.port(), static_cast<slowKind>(i % 4)));
        ASSERT_TRUE(slow.back()->connected());
    }
    long ticksBefore = ticks;

    std::vector<double> took;
    for (int round = 0; round < 30; ++round) {
        for (size_t i = trickling; i < slow.size(); i += 4) slow[i]->send("a");
        auto t = clock_type::now();
        webtest::httpReply r = webtest::httpGet(svc.port(), ping);
        took.push_back(msSince(t));
        EXPECT_EQ(r.status, 200);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::sort(took.begin(), took.end());
    double median = took[took.size() / 2];
    std::cout << "/ping with 200 slow clients: median " << median << " ms, max " << took.back() << " ms\n";
    EXPECT_LT(median, 100.0);
    EXPECT_LT(took.back(), 1000.0);  // the read time-out is 60 s: a ping that waited for it fails
    EXPECT_GT(ticks, ticksBefore);   // the long handler worked on all along
    EXPECT_FALSE(done);

    release = true;
    for (int i = 0; i < 300 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(done);
}

// The time-out counts from the connection (or from the first byte of a later request), not from
// the last byte: a client that trickles bytes gets 408 as one that sends nothing.
TEST(SlowClients, RequestNotCompleteWithinTheReadTimeoutGets408AndIsClosed)
{
    webtest::logCapture logs;
    webtest::routeService svc("\"read_timeout\":1");
    struct client {
        const char* name;
        std::string bytes;
    };
    const std::vector<client> clients = {
        {"silent", ""},
        {"partial head", "GET /api/fuelweb/echo HTTP/1.1\r\nHost: x\r\n"},
        {"partial body", "POST /api/fuelweb/echo HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nabc"},
        {"chunks that never end",
         "POST /api/fuelweb/echo HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
         "3\r\nabc\r\n"},
    };
    auto start = clock_type::now();
    std::vector<std::unique_ptr<webtest::rawClient>> conns;
    for (const client& c : clients) {
        conns.push_back(std::make_unique<webtest::rawClient>(svc.port()));
        conns.back()->send(c.bytes);
    }
    webtest::rawClient trickler(svc.port());
    std::atomic<bool> stopTrickle{false};
    std::thread trickle([&] {
        std::string head = "GET /api/fuelweb/echo HTTP/1.1\r\nHost: x\r\nX-Slow: ";
        trickler.send(head);
        for (int i = 0; i < 100 && !stopTrickle; ++i) {
            if (!trickler.send("a")) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    for (size_t i = 0; i < clients.size(); ++i) {
        SCOPED_TRACE(clients[i].name);
        webtest::rawAnswer a = conns[i]->read(5000);
        EXPECT_EQ(a.statusLine, "HTTP/1.1 408 Request Timeout");
        EXPECT_TRUE(conns[i]->closedWithin(3000));
    }
    webtest::rawAnswer a = trickler.read(5000);
    double elapsed = msSince(start);
    stopTrickle = true;
    trickle.join();
    EXPECT_EQ(a.status, 408);
    EXPECT_GE(elapsed, 900.0);
    EXPECT_LT(elapsed, 4000.0);
    EXPECT_EQ(svc.routes.echoCalls, 0);
    bool warned = false;
    for (const webtest::logLine& l : logs.lines())
        warned |= l.prio == Poco::Message::PRIO_WARNING &&
                  l.text.find("Запрос POST /api/fuelweb/echo от 127.0.0.1:") == 0 &&
                  l.text.find("отклонен (408): запрос не получен за 1 с") != std::string::npos;
    EXPECT_TRUE(warned);
}

// Connections kept open between requests cost a place in the reader's table: at the limit, the
// idle ones give way to a new client instead of making it wait.
TEST(SlowClients, IdleKeptConnectionsGiveWayAtTheConnectionLimit)
{
    webtest::routeService svc("\"max_connections\":10");
    std::vector<std::unique_ptr<webtest::rawClient>> idle;
    for (int i = 0; i < 10; ++i) {
        idle.push_back(std::make_unique<webtest::rawClient>(svc.port()));
        idle.back()->send("GET /api/fuelweb/echo HTTP/1.1\r\nHost: x\r\n\r\n");
        ASSERT_EQ(idle.back()->read().status, 200);
    }
    auto t = clock_type::now();
    webtest::rawClient late(svc.port());
    late.send("GET /api/fuelweb/echo HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(late.read(3000).status, 200);
    EXPECT_LT(msSince(t), 2000.0);  // the keep-alive time-out is 5 s
    EXPECT_TRUE(idle.front()->closedWithin(3000));
}

// More slow clients than the connection limit: they wait in the listening queue, and a request
// behind them is served once the read time-out has freed places.
TEST(SlowClients, ClientsBeyondTheLimitAreServedOnceTimeOutsFreePlaces)
{
    webtest::routeService svc("\"max_connections\":20,\"read_timeout\":1");
    std::vector<std::unique_ptr<webtest::rawClient>> silentOnes;
    for (int i = 0; i < 30; ++i) silentOnes.push_back(std::make_unique<webtest::rawClient>(svc.port()));
    webtest::rawClient late(svc.port());
    late.send("GET /api/fuelweb/echo HTTP/1.1\r\nHost: x\r\n\r\n");
    webtest::rawAnswer a = late.read(6000);
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "GET|");
}

}  // namespace
