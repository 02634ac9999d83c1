// The operator's listener: /health and /ready under each failing check, the status snapshot of a
// station serving an order, its routes, its keys, and that no answer shows a key.
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <gtest/gtest.h>

#include <fstream>

#include "errorLines.h"
#include "fuelingStation.h"
#include "operatorListener.h"
#include "settings.h"
#include "stateDb.h"
#include "webConfig.h"
#include "weblog.h"

using azs_apps::operatorListener;
using pcudata::peek;
using webtest::httpGet;
using webtest::httpReply;
using webtest::order;

namespace {

Poco::JSON::Object::Ptr parsed(const std::string& text)
{
    return Poco::JSON::Parser().parse(text).extract<Poco::JSON::Object::Ptr>();
}

// A station with the monitor loop, a state file and the operator's listener on a free port; the
// keys are long, so that finding one in an answer can't be chance.
class OperatorStation : public webtest::FuelingStation {
protected:
    static constexpr const char* SERVER_KEY = "server-key-7f3a9c";
    static constexpr const char* STATION_KEY = "station-key-51be02";

    webtest::stateDir stateFiles;
    std::unique_ptr<azs_apps::durableState> durable;
    std::shared_ptr<const azs_apps::settings> cfg;
    std::unique_ptr<operatorListener> listener;

    // members: "fuelweb" members of the listener's configuration that replace the station's.
    void startListener(std::map<std::string, std::string> members = {})
    {
        std::map<std::string, std::string> all = {
            {"tmp_path", "\"" + dir.path() + "\""},
            {"ctl_port", std::to_string(pcu.ctlPort())},
            {"state_path", "\"" + stateFiles.file() + "\""},
            {"upstream_key", std::string("\"") + SERVER_KEY + "\""},
            {"ctl_key", std::string("\"") + STATION_KEY + "\""},
            {"upstream_endpoint", "\"" + platform.baseUrl() + "\""},
        };
        for (const auto& m : members) all[m.first] = m.second;
        std::string text;
        for (const auto& m : all) text += (text.empty() ? "\"" : ",\"") + m.first + "\":" + m.second;
        cfg = std::make_shared<const azs_apps::settings>(
            azs_apps::settings::read(azs_apps::webConfig::fromText("{\"fuelweb\":{" + text + "}}")));
        listener = std::make_unique<operatorListener>(cfg, 0);
        ASSERT_TRUE(listener->start());
        ASSERT_TRUE(waitFor([&] { return listener->snapshot().controller.probed; }));
    }

    // The whole station: the service with the long keys and its state file, then the listener.
    void startStation()
    {
        start(120, {{"upstream_key", std::string("\"") + SERVER_KEY + "\""},
                    {"ctl_key", std::string("\"") + STATION_KEY + "\""},
                    {"state_path", "\"" + stateFiles.file() + "\""}});
        durable = std::make_unique<azs_apps::durableState>(azs_apps::settings::read(
            azs_apps::webConfig::fromText("{\"fuelweb\":{\"state_path\":\"" + stateFiles.file() +
                                          "\",\"upstream_endpoint\":\"" + platform.baseUrl() + "\"}}")));
        ASSERT_TRUE(durable->ready());
        startListener();
    }

    void TearDown() override
    {
        listener.reset();
        platform.setStatus("/completed", 200);  // a refused notice goes through and ends its request
        FuelingStation::TearDown();
        durable.reset();
    }

    httpReply get(const std::string& path) { return httpGet(listener->port(), path); }
    Poco::JSON::Object::Ptr status() { return parsed(get("/status.json").body); }

    std::string apikeyOf(const order& o) const { return o.client + "," + SERVER_KEY + "," + STATION_KEY; }
    httpReply fuelingOf(const order& o)
    {
        return webtest::httpPost(svc->port(), "/api/fuelweb/fueling?apikey=" + apikeyOf(o),
                                 "application/json", o.body());
    }

    // The pump's entry of /status.json.
    Poco::JSON::Object::Ptr pumpOf(const Poco::JSON::Object::Ptr& s, int n)
    {
        Poco::JSON::Array::Ptr pumps = s->getArray("pumps");
        for (size_t i = 0; i < pumps->size(); ++i)
            if (pumps->getObject(i)->getValue<int>("number") == n) return pumps->getObject(i);
        return nullptr;
    }
};

// --- /health and /ready ------------------------------------------------------------------------

struct healthCase {
    const char* name;
    bool tableFresh;
    bool controllerUp;
    bool stateWritable;
    int code;
    const char* body;
};

class OperatorHealth : public OperatorStation, public ::testing::WithParamInterface<healthCase> {};

TEST_P(OperatorHealth, NamesEachFailingCheck)
{
    const healthCase& c = GetParam();
    publish(1);
    controller().dataTime = c.tableFresh ? clock.now() : 0;
    std::string statePath = stateFiles.file();
    if (c.stateWritable) {
        std::string error;
        ASSERT_TRUE(azs_apps::state::stateDb::open(statePath, azs_apps::state::stateDb::readWrite,
                                                   azs_apps::state::stateDb::normal, error))
            << error;
    } else {
        std::ofstream(stateFiles.path() + "/plain") << "not a directory";
        statePath = stateFiles.path() + "/plain/state.db";
    }
    startListener({{"ctl_port", std::to_string(c.controllerUp ? pcu.ctlPort() : webtest::freePort())},
                   {"state_path", "\"" + statePath + "\""}});

    const httpReply r = get("/health");
    EXPECT_EQ(r.status, c.code);
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(r.contentType, "application/json");
}

INSTANTIATE_TEST_SUITE_P(
    Checks, OperatorHealth,
    ::testing::Values(
        healthCase{"allWell", true, true, true, 200, R"({"status":"ok"})"},
        healthCase{"staleTable", false, true, true, 503, R"({"failing":["pump_table"],"status":"fail"})"},
        healthCase{"controllerDown", true, false, true, 503, R"({"failing":["controller"],"status":"fail"})"},
        healthCase{"stateFileNotWritable", true, true, false, 503,
                   R"({"failing":["state_file"],"status":"fail"})"},
        healthCase{"allFailing", false, false, false, 503,
                   R"({"failing":["pump_table","controller","state_file"],"status":"fail"})"}),
    [](const ::testing::TestParamInfo<healthCase>& i) { return std::string(i.param.name); });

TEST_F(OperatorStation, ReadyOnlyOnceTheCycleHasTakenOverItsOrdersAndListens)
{
    startListener();
    const httpReply before = get("/ready");
    EXPECT_EQ(before.status, 503);
    EXPECT_EQ(before.body, R"({"status":"starting"})");
    listener->markReady();
    const httpReply after = get("/ready");
    EXPECT_EQ(after.status, 200);
    EXPECT_EQ(after.body, R"({"status":"ready"})");
}

// A table that goes stale while the listener runs turns /health and the warning on, and a
// controller that goes away turns them on at its next probe.
TEST_F(OperatorStation, HealthFollowsTheTableAndTheController)
{
    startStation();
    ASSERT_TRUE(waitFor([&] { return get("/health").status == 200; }));
    follower.reset();  // the monitor stops following: nothing renews the table any more
    controller().dataTime = 0;
    auto warned = [&](const std::string& check) {
        Poco::JSON::Array::Ptr w = status()->getArray("warnings");
        for (size_t i = 0; i < w->size(); ++i)
            if (w->getObject(i)->getValue<std::string>("check") == check) return true;
        return false;
    };
    EXPECT_EQ(get("/health").body, R"({"failing":["pump_table"],"status":"fail"})");
    EXPECT_TRUE(warned("pump_table"));
    // The daemon gone, the table's age still grows from its last renewal, so that an alert on it
    // fires.
    const int64_t since = status()->getObject("pumpTable")->getValue<int64_t>("sinceRenewedSec");
    EXPECT_TRUE(waitFor(
        [&] { return status()->getObject("pumpTable")->getValue<int64_t>("sinceRenewedSec") > since + 2; }));
    EXPECT_EQ(status()->getObject("pumpTable")->getValue<int64_t>("ageSec"), -1);
    pcu.stop();
    EXPECT_TRUE(waitFor([&] { return !listener->snapshot().controller.connected; }, WAIT_MS));
    EXPECT_EQ(get("/health").body, R"({"failing":["pump_table","controller"],"status":"fail"})");
    EXPECT_TRUE(warned("controller"));
}

// --- /status.json -------------------------------------------------------------------------------

// An order being delivered shows on its pump and in the orders with its litres rising, read after
// read; its completion refused by the platform shows as a pending notice with the refusal.
TEST_F(OperatorStation, StatusShowsTheOrderInProgressAndItsPendingNotice)
{
    startStation();
    order o;
    o.id = "OP-1";
    o.volume = 40.0;
    o.summa = 2100.0;
    o.client = "client-key-aaaa1111";
    placeOrder(o);
    platform.setStatus("/completed", 503);
    ASSERT_EQ(fuelingOf(o).status, 200);
    ASSERT_TRUE(waitStatus(o.trk, 6));
    pcu.liftNozzle(o.trk);

    double first = 0.0;
    ASSERT_TRUE(
        waitFor([&] { return (first = pumpOf(status(), 1)->getValue<double>("litres")) > 0.0; }, WAIT_MS));
    double later = first;
    ASSERT_TRUE(
        waitFor([&] { return (later = pumpOf(status(), 1)->getValue<double>("litres")) > first; }, WAIT_MS));
    Poco::JSON::Object::Ptr s = status();
    Poco::JSON::Object::Ptr p = pumpOf(s, 1);
    EXPECT_EQ(p->getValue<std::string>("order"), "OP-1");
    EXPECT_EQ(p->getValue<std::string>("client"), "clie…");
    EXPECT_EQ(p->getValue<int>("status"), 7);
    EXPECT_EQ(p->getValue<std::string>("statusText"), pcudata::trkStatusText(7));
    EXPECT_EQ(p->getValue<int>("product"), 92);
    EXPECT_GE(p->getValue<int64_t>("tagAgeSec"), 0);
    Poco::JSON::Array::Ptr orders = s->getArray("orders");
    ASSERT_EQ(orders->size(), 1u);
    EXPECT_EQ(orders->getObject(0)->getValue<std::string>("order"), "OP-1");
    EXPECT_EQ(orders->getObject(0)->getValue<std::string>("stage"), "serving");
    EXPECT_EQ(orders->getObject(0)->getValue<int>("pump"), 1);
    EXPECT_GT(orders->getObject(0)->getValue<double>("litres"), 0.0);

    pcu.hangNozzle(o.trk);
    ASSERT_TRUE(waitFor(
        [&] {
            Poco::JSON::Array::Ptr n = status()->getArray("notices");
            return n->size() == 1 && n->getObject(0)->getValue<int>("lastAnswer") == 503;
        },
        WAIT_MS));
    Poco::JSON::Object::Ptr n = status()->getArray("notices")->getObject(0);
    EXPECT_EQ(n->getValue<std::string>("order"), "OP-1");
    EXPECT_EQ(n->getValue<std::string>("kind"), "complete");
    EXPECT_EQ(n->getValue<std::string>("state"), "pending");
    EXPECT_GE(n->getValue<int>("attempts"), 1);
    EXPECT_EQ(status()->getObject("noticeCounts")->getValue<int>("pending"), 1);

    // The scrape reads the same snapshot.
    const httpReply m = get("/metrics");
    EXPECT_EQ(m.status, 200);
    EXPECT_EQ(m.contentType, "text/plain; version=0.0.4");
    for (const char* line : {"\nfuelgate_notices_pending 1\n", "\nfuelgate_controller_up 1\n",
                             "\nfuelgate_notices_abandoned 0\n"})
        EXPECT_NE(m.body.find(line), std::string::npos) << line << m.body;
}

// The answer as a whole: members sorted, compact, the controller and table as they are.
TEST_F(OperatorStation, StatusIsCompactJsonWithSortedMembers)
{
    startStation();
    const httpReply r = get("/status.json");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.contentType, "application/json");
    EXPECT_EQ(r.body.rfind("{\"controller\":{\"address\":\"127.0.0.1:" + std::to_string(pcu.ctlPort()) +
                               "\",\"checkedAgoSec\":",
                           0),
              0u)
        << r.body;
    EXPECT_EQ(r.body.find('\n'), std::string::npos);
    EXPECT_EQ(r.body.find("\": "), std::string::npos);
    Poco::JSON::Object::Ptr s = parsed(r.body);
    Poco::JSON::Object::NameList names;
    s->getNames(names);
    EXPECT_EQ(names,
              (Poco::JSON::Object::NameList{"controller", "errors", "noticeCounts", "notices", "orders",
                                            "pumpTable", "pumps", "stateFileWritable", "time", "warnings"}));
    EXPECT_TRUE(s->getObject("controller")->getValue<bool>("connected"));
    EXPECT_TRUE(s->getObject("pumpTable")->getValue<bool>("fresh"));
    EXPECT_TRUE(s->getValue<bool>("stateFileWritable"));
    EXPECT_EQ(s->getArray("pumps")->size(), sim::defaultStation().pumps.size());
    EXPECT_EQ(s->getArray("warnings")->size(), 0u);
}

TEST_F(OperatorStation, OnlyItsOwnPathsAndOnlyGet)
{
    startListener();
    EXPECT_EQ(get("/").status, 200);
    EXPECT_EQ(get("/").contentType, "text/html; charset=utf-8");
    for (const char* path : {"/ping", "/api/fuelweb/ping", "/status", "/status.json/", "/health/x",
                             "/metrics/x", "/metrics.txt", "/index.html"})
        EXPECT_EQ(get(path).status, 404) << path;
    EXPECT_EQ(webtest::httpPost(listener->port(), "/health", "application/json", "{}").status, 405);
}

// --- keys --------------------------------------------------------------------------------------

// The page, the status and the metrics never carry the configured keys nor a client key of the
// orders placed, also when an error line quotes one.
TEST_F(OperatorStation, NoAnswerShowsAKey)
{
    startStation();
    azs_apps::weblog::configure("info", dir.path() + "/fuelweb.log");
    std::vector<order> orders(2);
    orders[0].id = "KEY-1";
    orders[0].client = "client-key-aaaa1111";
    orders[1].id = "KEY-2";
    orders[1].trk = 2;
    orders[1].client = "client-key-bbbb2222";
    for (const order& o : orders) {
        placeOrder(o);
        ASSERT_EQ(fuelingOf(o).status, 200);
    }
    poco_error(Poco::Logger::get("fuelweb"),
               std::string("apikey=") + orders[0].client + "," + SERVER_KEY + "," + STATION_KEY + " refused");
    ASSERT_TRUE(waitFor([&] { return status()->getArray("errors")->size() == 1; }));

    const std::vector<std::string> answers{get("/").body, get("/status.json").body, get("/health").body,
                                           get("/ready").body, get("/metrics").body};
    for (const std::string& body : answers) {
        for (const std::string& key :
             {std::string(SERVER_KEY), std::string(STATION_KEY), orders[0].client, orders[1].client})
            EXPECT_EQ(body.find(key), std::string::npos) << key << " in " << body;
    }
    EXPECT_NE(answers[1].find("apikey=***,***,*** refused"), std::string::npos) << answers[1];
    for (const order& o : orders) cancel(apikeyOf(o), o.id);
}

// --- settings ----------------------------------------------------------------------------------

TEST(OperatorSettings, DefaultsPortZeroAndStrictValues)
{
    auto read = [](const std::string& members) {
        return azs_apps::settings::read(azs_apps::webConfig::fromText("{\"fuelweb\":{" + members + "}}"))
            .operatorListener;
    };
    EXPECT_EQ(read("").ip, "127.0.0.1");
    EXPECT_EQ(read("").port, 8081);
    EXPECT_EQ(read(R"("operator":{"ip":"0.0.0.0","port":9100})").port, 9100);
    EXPECT_FALSE(read(R"("operator":{"port":0})").enabled());
    for (const char* bad : {R"("operator":{"port":"8081"})", R"("operator":{"port":70000})",
                            R"("operator":{"port":-1})", R"("operator":{"ip":""})", R"("operator":{"ip":5})"})
        EXPECT_THROW(read(bad), azs_apps::configError) << bad;
}

TEST(OperatorSettings, PortZeroMeansNoListener)
{
    auto cfg = std::make_shared<const azs_apps::settings>(
        azs_apps::settings::read(azs_apps::webConfig::fromText(R"({"fuelweb":{"operator":{"port":0}}})")));
    EXPECT_EQ(operatorListener::forCycle(cfg), nullptr);
}

// --- what the snapshot keeps --------------------------------------------------------------------

TEST(OperatorSnapshot, ClientKeyShowsAtMostFourCharactersAndNeverHalf)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},           {"ab", "a…"},          {"abc", "a…"},
        {"abcdef", "abc…"}, {"abcdefgh", "abcd…"}, {"client-key-1", "clie…"}};
    for (const auto& [key, shown] : cases) EXPECT_EQ(azs_apps::clientKeyPrefix(key), shown) << key;
}

TEST(OperatorSnapshot, ErrorLinesKeepTheLastTwenty)
{
    azs_apps::weblog::errorLines ring;
    for (int i = 1; i <= 25; ++i) ring.add("line " + std::to_string(i));
    std::vector<std::string> last = ring.last();
    ASSERT_EQ(last.size(), 20u);
    EXPECT_EQ(last.front(), "line 6");
    EXPECT_EQ(last.back(), "line 25");
}

}  // namespace
