// /station/prices and /station/config through real HTTP against the simulated controller.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include "stationTestSupport.h"
#include "testSupport.h"

namespace {

using stationtest::withoutDate;
constexpr int ERROR = Poco::Message::PRIO_ERROR;

class StationEndpoint : public stationtest::stationService {};

TEST_F(StationEndpoint, DocumentsOfTheController)
{
    startService();
    webtest::httpReply r = get("/station/prices");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(withoutDate(r.body), stationtest::DEFAULT_PRICES);
    EXPECT_EQ(r.contentType, "application/json");
    EXPECT_EQ(r.contentEncoding, "utf-8");
    r = get("/station/config/");
    EXPECT_EQ(r.status, 200);
    const std::string ai92 = "{\"Hand\":1,\"ProdName\":\"АИ-92\",\"Product\":92,\"Tank\":1}";
    const std::string ai95 = "{\"Hand\":2,\"ProdName\":\"АИ-95\",\"Product\":95,\"Tank\":2}";
    EXPECT_EQ(
        withoutDate(r.body),
        "{\"Columns\":{\"1\":{\"Fuels\":[" + ai92 + "," + ai95 + "]},\"2\":{\"Fuels\":[" + ai92 + "," + ai95 +
            "]},\"3\":{\"Fuels\":[" + ai92 + "," + ai95 +
            ",{\"Hand\":3,\"ProdName\":\"ДТ\",\"Product\":20,\"Tank\":3}]},\"4\":{\"Fuels\":[{\"Hand\":1,"
            "\"ProdName\":\"ДТ\",\"Product\":20,\"Tank\":3}]}},\"Date\":\"D\",\"Id\":\"azs\"}");
    // No workplace registration; both blocks ask the same words in the log.
    EXPECT_EQ(pcu.receivedControlLines(), (std::vector<std::string>{"@!APRS", "@!ACFG"}));
    EXPECT_TRUE(
        logs.has("fuelweb/config", Poco::Message::PRIO_INFORMATION, "Запрос на получение цен на топливо"));
    EXPECT_EQ(webtest::httpGet(svc->port(), "/api/fuelweb/station/").status, 503);
}

TEST_F(StationEndpoint, KeyChecks)
{
    startService();
    struct row {
        const char* query;
        const char* form;  // nullptr: a GET
        int status;
    } rows[] = {
        {"srv,azs,more", nullptr, 200}, {"srv", nullptr, 401},       {"azs,srv", nullptr, 401},
        {",azs", nullptr, 401},         {"srv,azs", "apikey=", 200}, {"wrong", "apikey=srv%2Cazs", 200},
    };
    for (const row& r : rows) {
        pcu.clearReceivedControlLines();
        std::string uri = std::string("/api/fuelweb/station/prices?apikey=") + r.query;
        webtest::httpReply reply =
            r.form == nullptr
                ? webtest::httpGet(svc->port(), uri)
                : webtest::httpPost(svc->port(), uri, "application/x-www-form-urlencoded", r.form);
        EXPECT_EQ(reply.status, r.status) << r.query << " / " << (r.form ? r.form : "GET");
        if (r.status == 401) {
            EXPECT_TRUE(pcu.receivedControlLines().empty()) << r.query;
        }
    }
    EXPECT_TRUE(logs.has("fuelweb/prices", ERROR, "Ошибка авторизации"));
}

TEST_F(StationEndpoint, RefusedBlockAnswers404)
{
    startService();
    pcu.refuseNext("ACFG", 5);
    webtest::httpReply r = get("/station/config");
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body, "");
    EXPECT_TRUE(logs.has("fuelweb/config", ERROR, "Ошибка получения данных конфигурации"));
}

TEST_F(StationEndpoint, UnreachableControllerAnswers500)
{
    startService("\"ctl_port\":" + std::to_string(testsupport::closedPort()));
    EXPECT_EQ(get("/station/prices").status, 500);
    EXPECT_TRUE(logs.has("fuelweb/prices", ERROR, "Ошибка подключения к контролеру управления"));
    EXPECT_EQ(clock.count(1000000), 2);  // three more attempts one second apart
}

}  // namespace
