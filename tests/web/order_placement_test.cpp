// /order with the controller: registration, the price check, the reservation with the record it
// writes, and the post-payment of a finished delivery; at the end the same through the monitor.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <regex>

#include "orderTestSupport.h"
#include "stationRig.h"
#include "testSupport.h"

using ordertest::json;
using ordertest::orderBody;
using ordertest::postpay;
using ordertest::unpaid;
using pcudata::peek;
using pcudata::trkState_t;

namespace {

const std::string LOGGER = "fuelweb/order";
const std::regex EXT_DATE("\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d");

TEST(OrderPlacement, ReservationTagsThePump)
{
    webtest::stationRig rig;
    trkState_t& rec = rig.publish(1);
    const time_t before = rig.clock.now();
    webtest::httpReply r = rig.post("/order", orderBody({{"contract", "\"Individual\""}}));
    ASSERT_EQ(r.status, 200) << r.body;
    Poco::JSON::Object::Ptr o = json(r.body);
    EXPECT_EQ(o->getValue<std::string>("msg"), "Заказ зарегистрирован");
    EXPECT_EQ(o->getValue<int>("trannum"), 101);
    EXPECT_EQ(o->getValue<int>("stat"), 3);  // nobody publishes the reservation here
    EXPECT_TRUE(std::regex_match(o->getValue<std::string>("timeset"), EXT_DATE));

    EXPECT_EQ(std::string(rec.orderId), "A-1");
    EXPECT_EQ(std::string(rec.clientKey), "client");
    EXPECT_EQ(rec.trannum, 101);
    EXPECT_EQ(rec.tagged, 1);
    EXPECT_GE(rec.tagTime, before + 4);  // after the wait for the pump's reaction
    EXPECT_EQ(rec.notifyTime, rec.tagTime);
    EXPECT_EQ(rec.notifyDue, 0);
    EXPECT_EQ(rec.lock, pcudata::TRK_LOCK_FREE);
    EXPECT_EQ(rig.pcu.receivedControlLines(),
              (std::vector<std::string>{"@!REGM;NUM=20;TYP=4;", "@!GETPRS;PRD=92;PMT=8880;",
                                        "@!PWORK;NUM=1;TYP=1;PRD=92;PMT=8880;"}));
    EXPECT_EQ(rig.pcu.status(1), 10);
    EXPECT_TRUE(rig.logs.has(LOGGER, Poco::Message::PRIO_INFORMATION,
                             "Заказ 'A-1' зарегистрирован для тразакции '101'"));
    EXPECT_TRUE(rig.logs.has(LOGGER, Poco::Message::PRIO_DEBUG, " Текущий статус ТРК : '3'  Заказ : 'A-1'"));
    EXPECT_TRUE(rig.waitFor([&] { return rig.pcu.controlClients() == 0; }));  // the session is closed
}

// The controller's price answer, as it comes, against the order's 50.00.
TEST(OrderPlacement, PriceCheck)
{
    struct row {
        std::string reply;
        int code;
        int prs, prd;
    } rows[] = {
        {"@0030GETPRS;RES=1;PRS=5000;PRD=92;$0000;", 200, 0, 0},
        {"@0030GETPRS;RES=1;PRS=4999;PRD=92;$0000;", 402, 4999, 92},
        {"@0030GETPRS;RES=1;PRD=92;$0000;", 402, 0, 92},
        {"@0030GETPRS;RES=1;PRS=5000;PRD=abc;$0000;", 402, 5000, 0},
    };
    webtest::stationRig rig;
    for (const row& r : rows) {
        rig.publish(1);
        rig.pcu.setPumpStatus(1, 3);
        rig.pcu.rawReplyNext("GETPRS", r.reply);
        webtest::httpReply reply = rig.post("/order", orderBody({{"price", "50.0"}}));
        EXPECT_EQ(reply.status, r.code) << r.reply;
        if (r.code == 200) continue;
        EXPECT_EQ(reply.body,
                  "{\"action\":\"CHPRS\",\"cmd\":\"GETPRS\",\"err\":0,\"msg\":\"Цена в заказе не "
                  "соответствует установленной на АЗС\",\"prd\":" +
                      std::to_string(r.prd) + ",\"prs\":" + std::to_string(r.prs) + ",\"res\":1,\"stat\":3}");
    }
}

TEST(OrderPlacement, ControllerRefusals)
{
    webtest::stationRig rig;
    rig.publish(1);
    // No such product: the controller's own code and texts travel to the platform.
    Poco::JSON::Object::Ptr o = json(rig.post("/order", orderBody({{"prod", "93"}})).body);
    EXPECT_EQ(o->getValue<std::string>("msg"), "Неверные данные по продукту или платежной системе");
    EXPECT_EQ(o->getValue<int>("res"), 18);
    EXPECT_EQ(o->getValue<std::string>("cmd"), "GETPRS");
    EXPECT_FALSE(o->getValue<std::string>("tcod").empty());
    EXPECT_FALSE(o->getValue<std::string>("txt").empty());

    rig.pcu.refuseNext("GETPRS", 5);
    webtest::httpReply r = rig.post("/order", orderBody());
    EXPECT_EQ(r.status, 402);
    EXPECT_EQ(json(r.body)->getValue<std::string>("msg"), "Ошибка получения цены на продукт");

    // Answers without a command name carry the command that was sent.
    rig.pcu.rawReplyNext("REGM", "@0012;RES=4;");
    r = rig.post("/order", orderBody());
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body,
              "{\"cmd\":\"REGM\",\"err\":0,\"msg\":\"Ошибка подключения к ТРК\",\"res\":4,\"stat\":3}");

    rig.pcu.rawReplyNext("PWORK", "@0012;RES=5;TCOD=BUSY;TXT=Занята;");
    r = rig.post("/order", orderBody());
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body,
              "{\"cmd\":\"PWORK\",\"err\":0,\"msg\":\"Не удалось передать заказ на ТРК\",\"res\":5,"
              "\"stat\":3,\"tcod\":\"BUSY\",\"txt\":\"Занята\"}");
    EXPECT_EQ(rig.pump(1).tagged, 0);
}

TEST(OrderPlacement, ControllerOutOfReach)
{
    webtest::rigOptions o;
    o.fuelweb["ctl_port"] = std::to_string(testsupport::closedPort());
    webtest::stationRig rig(o);
    rig.publish(1);
    webtest::httpReply r = rig.post("/order", orderBody());
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "{\"msg\":\"Нет связи с ТРК\"}");
    EXPECT_TRUE(
        rig.logs.has(LOGGER, Poco::Message::PRIO_ERROR, "Ошибка подключения к контролеру управления"));
}

// The transaction number of the reservation: the first usable VAL whose record lock is had. Without
// one the order is refused, and the reservation is given back to the controller.
TEST(OrderPlacement, ReservationAnswers)
{
    struct row {
        std::string reply;
        bool recordLocked;
        int code, trannum;
    } rows[] = {
        {"@0030PWORK;RES=1;VAL=;VAL=205;$0000;", false, 200, 205},
        {"@0030PWORK;RES=1;VAL=abc;$0000;", false, 200, 77},  // the record keeps its number
        {"@0030PWORK;RES=1;$0000;", false, 404, 77},
        {"@0030PWORK;RES=1;VAL=205;$0000;", true, 404, 77},
    };
    for (const row& r : rows) {
        webtest::stationRig rig;
        trkState_t& rec = rig.publish(1);
        rec.trannum = 77;
        if (r.recordLocked) rec.lock = pcudata::TRK_LOCK_HELD;  // the monitor never lets go
        // The record shows the reservation for our workplace, as the monitor publishes it.
        rig.clock.onPause(100000, [&rec] {
            pcudata::poke(rec.status, 10);
            pcudata::poke(rec.lockWplace, 20);
        });
        rig.pcu.rawReplyNext("PWORK", r.reply);
        webtest::httpReply reply = rig.post("/order", orderBody());
        EXPECT_EQ(reply.status, r.code) << r.reply;
        EXPECT_EQ(rec.trannum, r.trannum) << r.reply;
        EXPECT_EQ(rec.tagged, r.code == 200 ? 1 : 0) << r.reply;
        if (r.code == 200) {
            EXPECT_EQ(json(reply.body)->getValue<int>("trannum"), r.trannum);
            continue;
        }
        EXPECT_EQ(reply.body, "{\"msg\":\"Ошибка подготовки ТРК к пуску\",\"stat\":10}");
        EXPECT_EQ(rig.pcu.receivedCommands("PWORK").back(), "@!PWORK;NUM=1;TYP=2;");
        EXPECT_EQ(rig.pcu.status(1), 3);
    }
}

TEST(OrderPlacement, PostPaymentLocksThePayment)
{
    webtest::stationRig rig(postpay());
    trkState_t& rec = unpaid(rig, 2);
    // The monitor publishes the controller's new lock holder during the handler's pause.
    rig.clock.onPause(500000, [&] {
        rec.lockWplace = rig.pcu.lockWplace(1);
        rec.lockType = rig.pcu.lockType(1);
    });
    webtest::httpReply r = rig.post("/order", orderBody({{"ExtendedId", "\"101\""}}));
    ASSERT_EQ(r.status, 200) << r.body;
    Poco::JSON::Object::Ptr o = json(r.body);
    EXPECT_EQ(o->getValue<std::string>("msg"), "Заказ принят (постоплата).");
    EXPECT_EQ(o->getValue<std::string>("litre"), "10.000");
    EXPECT_EQ(o->getValue<std::string>("extendedOrderId"), "101");
    EXPECT_EQ(o->getValue<std::string>("orderStatus"), "Completed");
    EXPECT_TRUE(std::regex_match(o->getValue<std::string>("extendedDate"), EXT_DATE));
    EXPECT_FALSE(o->has("stat"));
    EXPECT_EQ(rig.pcu.receivedCommands("WPWRK"), std::vector<std::string>{"@!WPWRK;TYP=1;TRK=1;"});
    EXPECT_TRUE(rig.pcu.receivedCommands("PWORK").empty());
    EXPECT_EQ(rig.pcu.lockWplace(1), 20);
    EXPECT_EQ(std::string(rec.orderId), "A-1");
    EXPECT_EQ(std::string(rec.clientKey), "client");
    EXPECT_EQ(rec.tagged, 1);
    EXPECT_GT(rec.tagTime, 0);
    EXPECT_EQ(rec.lock, pcudata::TRK_LOCK_FREE);
}

// The order can not be written into the pump's record (its lock is never had): it is refused and
// the payment lock given back, or the delivery would stay locked for an order nobody can find.
TEST(OrderPlacement, PostPaymentOrderNotWrittenGivesThePaymentBack)
{
    webtest::stationRig rig(postpay());
    trkState_t& rec = unpaid(rig, 2);
    rig.clock.onPause(500000, [&] {
        rec.lockWplace = rig.pcu.lockWplace(1);
        rec.lockType = rig.pcu.lockType(1);
        rec.lock = pcudata::TRK_LOCK_HELD;  // the monitor never lets go
    });
    webtest::httpReply r = rig.post("/order", orderBody({{"ExtendedId", "\"101\""}}));
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body, "{\"msg\":\"Ошибка подготовки ТРК к пуску\",\"stat\":11}");
    EXPECT_TRUE(rig.logs.has(LOGGER, Poco::Message::PRIO_ERROR, "Заказ 'A-1' не записан в ТРК 1"));
    EXPECT_EQ(rig.pcu.receivedCommands("WPWRK"),
              (std::vector<std::string>{"@!WPWRK;TYP=1;TRK=1;", "@!WPWRK;TYP=0;TRK=1;"}));
    EXPECT_EQ(rig.pcu.lockType(1), 0);
    EXPECT_EQ(rec.tagged, 0);
}

// Not seen as the lock holder in time, or refused: the order is refused, and a lock the controller
// gave is given back so that the till can settle the delivery.
TEST(OrderPlacement, PostPaymentLockNotHad)
{
    const std::string busy = "ТРК занята. (идет расчет с клиентом)";
    for (bool refused : {false, true}) {
        webtest::stationRig rig(postpay());
        unpaid(rig, 2);
        if (refused) rig.pcu.refuseNext("WPWRK", 13);
        webtest::httpReply r = rig.post("/order", orderBody({{"ExtendedId", "\"101\""}}));
        EXPECT_EQ(r.status, 404);
        EXPECT_EQ(r.body, "{\"msg\":\"" + busy + "\",\"stat\":11}");
        EXPECT_TRUE(rig.logs.has(LOGGER, Poco::Message::PRIO_WARNING, "Режим постоплаты : " + busy));
        std::vector<std::string> sent = {"@!WPWRK;TYP=1;TRK=1;"};
        if (!refused) sent.push_back("@!WPWRK;TYP=0;TRK=1;");
        EXPECT_EQ(rig.pcu.receivedCommands("WPWRK"), sent);
        EXPECT_EQ(rig.pcu.lockType(1), 0);
        EXPECT_EQ(rig.pump(1).tagged, 0);
    }
}

// The delivery is paid at the till while the price is asked: the order can no longer pay it and
// must not reserve the pump instead.
TEST(OrderPlacement, DeliveryPaidWhileThePriceIsAsked)
{
    webtest::rigOptions o = postpay();
    o.timeFactor = 10;  // the controller's read budget outlasts the delayed answer
    webtest::stationRig rig(o);
    trkState_t& rec = unpaid(rig, 2);
    rig.pcu.delayNext("GETPRS", 300);
    std::thread till([&] {
        rig.waitFor([&] { return !rig.pcu.receivedCommands("GETPRS").empty(); });
        rec.status = 3;
    });
    webtest::httpReply r = rig.post("/order", orderBody({{"ExtendedId", "\"101\""}}));
    till.join();
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.body, "{\"msg\":\"Попытка оплаты предыдущего отпуска. Повторите заказ.\",\"stat\":3}");
    EXPECT_TRUE(rig.pcu.receivedCommands("WPWRK").empty());
    EXPECT_TRUE(rig.pcu.receivedCommands("PWORK").empty());
}

// The whole way with the monitor publishing the controller's lines: an order reserves the pump and
// /ping then shows it reserved; a delivery started at the pump is paid through an order.
TEST(OrderPlacement, ThroughTheMonitor)
{
    webtest::stationRig rig(postpay());
    rig.followController();
    trkState_t& rec = rig.pump(1);
    ASSERT_TRUE(rig.waitFor([&] { return peek(rec.trk) == 1 && peek(rec.status) == 3; }));
    EXPECT_EQ(rig.post("/order", orderBody()).status, 200);
    ASSERT_TRUE(rig.waitFor([&] { return peek(rec.status) == 10; }));
    webtest::httpReply ping =
        rig.send("GET", "/ping", "", std::string(webtest::stationRig::APIKEY) + "&columnId=1");
    EXPECT_EQ(json(ping.body)->getValue<int>("statusId"), 10);
    EXPECT_EQ(json(ping.body)->getValue<std::string>("Description"),
              "ТРК занята/зарезервирована (идет работа с кассой, карточным терминалом, ТСО и т.п.)");
    EXPECT_EQ(std::string(rec.orderId), "A-1");  // the monitor keeps the tag

    rig.pcu.setPumpStatus(2, 3);
    ASSERT_EQ(rig.pcu.startLocalDelivery(2, 92, 2000), 1);
    rig.pcu.liftNozzle(2);
    ASSERT_TRUE(rig.pcu.waitForStatus(2, 9, 5000));
    rig.pcu.hangNozzle(2);
    ASSERT_TRUE(rig.pcu.waitForStatus(2, 11, 5000));
    trkState_t& paid = rig.pump(2);
    ASSERT_TRUE(rig.waitFor([&] { return peek(paid.status) == 11 && peek(paid.volume) == 2000; }));
    rig.clock.onPause(500000, [&] { rig.waitFor([&] { return peek(paid.lockWplace) == 20; }); });
    webtest::httpReply r =
        rig.post("/order", orderBody({{"id", "\"B-2\""},
                                      {"trk", "2"},
                                      {"volume", "2"},
                                      {"summa", "105"},
                                      {"ExtendedId", "\"" + std::to_string(paid.trannum) + "\""}}));
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(json(r.body)->getValue<std::string>("litre"), "2.000");
    EXPECT_EQ(std::string(paid.orderId), "B-2");
}

}  // namespace
