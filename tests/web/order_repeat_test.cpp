// /order sent again for an order the pump already holds (the platform lost the first answer), and
// the journal of the order's decisions.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include "durableState.h"
#include "orderTestSupport.h"
#include "stateTestSupport.h"
#include "stationRig.h"
#include "webConfig.h"

using ordertest::json;
using ordertest::orderBody;
using ordertest::postpay;
using ordertest::unpaid;
using pcudata::trkState_t;

namespace {

const std::string LOGGER = "fuelweb/order";

TEST(OrderRepeated, AnsweredAsTheFirstWithoutASecondReservation)
{
    webtest::stationRig rig;
    trkState_t& rec = rig.publish(1);
    webtest::httpReply first = rig.post("/order", orderBody());
    ASSERT_EQ(first.status, 200) << first.body;
    rec.status = 10;  // as the monitor shows the reservation
    webtest::httpReply again = rig.post("/order", orderBody());
    ASSERT_EQ(again.status, 200) << again.body;
    auto a = json(first.body), b = json(again.body);
    EXPECT_EQ(b->getValue<std::string>("msg"), "Заказ зарегистрирован");
    EXPECT_EQ(b->getValue<int>("trannum"), a->getValue<int>("trannum"));
    EXPECT_EQ(b->getValue<std::string>("timeset"), a->getValue<std::string>("timeset"));
    EXPECT_EQ(b->getValue<int>("stat"), 10);
    EXPECT_EQ(rig.pcu.receivedCommands("PWORK").size(), 1u);
    EXPECT_TRUE(
        rig.logs.has(LOGGER, Poco::Message::PRIO_INFORMATION,
                     "Повторный заказ 'A-1' для ТРК 1: заказ уже на ТРК, ответ как на первый запрос"));
    EXPECT_EQ(rec.lock, pcudata::TRK_LOCK_FREE);
}

// Only the same order of the same client is a repetition; anything else meets the busy pump.
TEST(OrderRepeated, OtherOrdersStillMeetTheBusyPump)
{
    const std::string busy = "ТРК занята. (Идет работа с кассой, карточным терминалом, ТСО)";
    struct row {
        const char* what;
        std::string body;
        std::string apikey;
    } rows[] = {
        {"another order id", orderBody({{"id", "\"A-2\""}}), webtest::stationRig::APIKEY},
        {"another client", orderBody(), "other,srv,azs"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        webtest::stationRig rig;
        trkState_t& rec = rig.publish(1);
        ASSERT_EQ(rig.post("/order", orderBody()).status, 200);
        rec.status = 10;
        webtest::httpReply again = rig.post("/order", r.body, r.apikey);
        EXPECT_EQ(again.status, 400);
        EXPECT_EQ(again.body, "{\"msg\":\"" + busy + "\",\"stat\":10}");
        EXPECT_EQ(rig.pcu.receivedCommands("PWORK").size(), 1u);
    }
}

TEST(OrderRepeated, PostPaymentAnsweredAsTheFirstWithoutASecondLock)
{
    webtest::stationRig rig(postpay());
    trkState_t& rec = unpaid(rig, 2);
    rig.clock.onPause(500000, [&] {
        rec.lockWplace = rig.pcu.lockWplace(1);
        rec.lockType = rig.pcu.lockType(1);
    });
    const std::string body = orderBody({{"ExtendedId", "\"101\""}});
    webtest::httpReply first = rig.post("/order", body);
    ASSERT_EQ(first.status, 200) << first.body;
    webtest::httpReply again = rig.post("/order", body);
    ASSERT_EQ(again.status, 200) << again.body;
    auto b = json(again.body);
    EXPECT_EQ(b->getValue<std::string>("msg"), "Заказ принят (постоплата).");
    EXPECT_EQ(b->getValue<std::string>("litre"), "10.000");
    EXPECT_EQ(b->getValue<std::string>("extendedOrderId"), "101");
    EXPECT_EQ(b->getValue<std::string>("orderStatus"), "Completed");
    EXPECT_FALSE(b->has("stat"));
    EXPECT_EQ(rig.pcu.receivedCommands("WPWRK"), std::vector<std::string>{"@!WPWRK;TYP=1;TRK=1;"});
}

// Every decision about an order, in order; a caller whose keys fail leaves no trace.
TEST(OrderJournal, DecisionsOfOrdersInTheirOrder)
{
    webtest::stateDir dir;
    webtest::stationRig rig;
    azs_apps::durableState st(azs_apps::settings::read(
        azs_apps::webConfig::fromText("{\"fuelweb\":{\"state_path\":\"" + dir.file() +
                                      "\",\"upstream_endpoint\":\"" + rig.platform.baseUrl() + "\"}}")));
    ASSERT_TRUE(st.ready());
    trkState_t& rec = rig.publish(1);
    rig.publish(2, 13);

    ASSERT_EQ(rig.post("/order", orderBody()).status, 200);
    rec.status = 10;
    ASSERT_EQ(rig.post("/order", orderBody()).status, 200);
    ASSERT_EQ(rig.post("/order", orderBody({{"id", "\"B-1\""}, {"trk", "2"}})).status, 400);
    ASSERT_EQ(rig.post("/order", orderBody({{"id", "\"C-1\""}, {"trk", "3"}, {"price", "50"}})).status, 400);
    rig.publish(3);
    ASSERT_EQ(rig.post("/order", orderBody({{"id", "\"C-1\""}, {"trk", "3"}, {"price", "50"}})).status, 402);
    ASSERT_EQ(rig.post("/order", orderBody({{"id", "\"D-1\""}}), "client,wrong,azs").status, 401);
    st.flushJournal();

    EXPECT_EQ(webtest::journalKinds(dir.file(), "A-1"),
              (std::vector<std::string>{"admitted:0:резервирование", "reserved:200:транзакция 101",
                                        "repeated:200:транзакция 101"}));
    EXPECT_EQ(webtest::journalKinds(dir.file(), "B-1"),
              std::vector<std::string>{"refused:400:ТРК выключена"});
    EXPECT_EQ(webtest::journalKinds(dir.file(), "C-1"),
              (std::vector<std::string>{"refused:400:Номер ТРК не соответствует указанному",
                                        "admitted:0:резервирование",
                                        "refused:402:Цена в заказе не соответствует установленной на АЗС"}));
    EXPECT_TRUE(webtest::journalOf(dir.file(), "D-1").empty());
    for (const auto& row : webtest::journalOf(dir.file(), "C-1")) EXPECT_EQ(row.pump, 3);
}

}  // namespace
