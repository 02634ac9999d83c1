// /callback/prices and /callback/config: the early answer, and the push as the platform stub
// receives it, its retries and the cases in which nothing is pushed.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "stationTestSupport.h"

namespace {

constexpr int ERROR = Poco::Message::PRIO_ERROR;
constexpr int INFO = Poco::Message::PRIO_INFORMATION;
const std::string PRICES_LOG = "fuelweb/callback/prices";

class CallbackPush : public stationtest::stationService {};

// The caller has its bare 200 while the platform still holds the push.
TEST_F(CallbackPush, PricesReachThePlatformAfterTheCallerIsAnswered)
{
    startService();
    std::promise<void> replied;
    std::shared_future<void> done = replied.get_future().share();
    std::atomic<bool> heldUntilReplied{false};
    platform.setListener([&](const sim::platformRequest&) {
        heldUntilReplied = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    });
    webtest::httpReply r = get("/callback/prices");
    replied.set_value();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "");
    ASSERT_TRUE(waitForLog(PRICES_LOG, INFO, "Получен ответ HTTP/200"));
    EXPECT_TRUE(heldUntilReplied);
    ASSERT_EQ(platform.requests().size(), 1u);
    sim::platformRequest q = platform.requests()[0];
    EXPECT_EQ(q.method + " " + q.path + "?" + q.query, "POST /callback/prices?apikey=srv,azs");
    EXPECT_EQ(stationtest::withoutDate(q.body), stationtest::DEFAULT_PRICES);
    for (const char* h : {"Accept: application/json", "Content-encoding: UTF-8",
                          "Content-Type: application/json", "charset: utf-8", "Content-language: ru"}) {
        std::string line = h;
        size_t colon = line.find(':');
        EXPECT_EQ(q.header(line.substr(0, colon)), line.substr(colon + 2)) << h;
    }
}

TEST_F(CallbackPush, ConfigGoesToCallbackStationWithoutHoseNumbers)
{
    startService();
    EXPECT_EQ(get("/callback/config").status, 200);
    ASSERT_TRUE(platform.waitForRequests(1, 10000));
    sim::platformRequest q = platform.requests()[0];
    EXPECT_EQ(q.path + "?" + q.query, "/callback/station?apikey=srv,azs");
    EXPECT_EQ(q.body.find("\"Hand\""), std::string::npos) << q.body;
    EXPECT_NE(q.body.find("{\"ProdName\":\"ДТ\",\"Product\":20,\"Tank\":3}"), std::string::npos) << q.body;
}

TEST_F(CallbackPush, PlatformAnswering201GetsTenAttempts2sApart)
{
    startService();
    platform.setStatus("/callback/prices", 201);
    EXPECT_EQ(get("/callback/prices").status, 200);
    ASSERT_TRUE(waitForLog(PRICES_LOG, ERROR, "Отправка списка цен АЗС прекращена после 10 попыток"));
    EXPECT_EQ(platform.requests().size(), 10u);
    EXPECT_EQ(clock.count(2000000), 9);
    EXPECT_TRUE(logs.has(PRICES_LOG, INFO, "Отправка списка цен АЗС (10/10)"));
}

TEST_F(CallbackPush, EmptyEndpointAnswers200AndPushesNothing)
{
    startService("\"upstream_endpoint\":\"\"");
    EXPECT_EQ(get("/callback/prices").status, 200);
    ASSERT_TRUE(waitForLog(PRICES_LOG, ERROR, "Не указан URL"));
    EXPECT_TRUE(platform.requests().empty());
    EXPECT_EQ(clock.count(2000000), 0);
}

// The client key in front of the two (as /fueling has it) makes the server key the wrong one; an
// empty form value keeps the query's.
TEST_F(CallbackPush, KeyChecks)
{
    startService();
    EXPECT_EQ(get("/callback/prices", "client,srv,azs").status, 401);
    EXPECT_EQ(get("/callback/prices", "srv").status, 401);
    EXPECT_EQ(webtest::httpPost(svc->port(), "/api/fuelweb/callback/config?apikey=srv,azs",
                                "application/x-www-form-urlencoded", "apikey=")
                  .status,
              200);
    ASSERT_TRUE(platform.waitForRequests(1, 10000));
    EXPECT_TRUE(logs.has(PRICES_LOG, ERROR, "Ошибка авторизации"));
    EXPECT_EQ(pcu.receivedControlLines(), std::vector<std::string>{"@!ACFG"});
}

// Keys reach the platform as configured; only bytes that would cut the query short or break the
// URL are percent-encoded.
TEST_F(CallbackPush, KeysThatWouldBreakTheQueryAreEncoded)
{
    startService("\"upstream_key\":\"s#1&x y\",\"ctl_key\":\"азс=7\"");
    EXPECT_EQ(get("/callback/prices", "s%231%26x%20y,%D0%B0%D0%B7%D1%81%3D7").status, 200);
    ASSERT_TRUE(platform.waitForRequests(1, 10000));
    EXPECT_EQ(platform.requests()[0].query, "apikey=s%231%26x%20y,%D0%B0%D0%B7%D1%81%3D7");
}

// A stop of the service ends a refused push instead of holding the stop for the other attempts.
TEST_F(CallbackPush, StoppingServiceEndsTheRetries)
{
    startService();
    platform.setStatus("/callback/prices", 500);
    platform.setListener([&](const sim::platformRequest&) { svc->service().shutdown(); });
    EXPECT_EQ(get("/callback/prices").status, 200);
    ASSERT_TRUE(waitForLog(PRICES_LOG, Poco::Message::PRIO_WARNING,
                           "Отправка списка цен АЗС прервана остановкой приложения"));
    EXPECT_EQ(platform.requests().size(), 1u);
}

}  // namespace
