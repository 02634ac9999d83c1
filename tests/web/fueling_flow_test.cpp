// /fueling from the start of the pump to the order's final notice, through real HTTP, the
// simulated controller, the monitor loop and the platform stub.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include "fuelingStation.h"
#include "watchedOrders.h"

using pcudata::peek;
using pcudata::trkState_t;
using webtest::order;

namespace {

const char* const ACCEPTED = "{\"err\":0,\"msg\":\"Команда на пуск ТРК принята\",\"stat\":10}";

class FuelingFlow : public webtest::FuelingStation {
protected:
    bool tagCleared(int trk) { return record(trk).orderId[0] == '\0' && peek(record(trk).tagged) == 0; }
    std::string finalText(const std::vector<sim::platformRequest>& f, const std::string& name)
    {
        return f.size() == 1 ? field(f[0], name) : "(" + std::to_string(f.size()) + " final notices)";
    }
};

TEST_F(FuelingFlow, CompleteOrderFromStartToCompletion)
{
    start();
    order o;
    placeOrder(o);
    webtest::httpReply r = fueling(o);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, ACCEPTED);
    EXPECT_EQ(r.contentType, "application/json");
    // The answer is out while the handler still works on the order.
    EXPECT_TRUE(azs_apps::watchedOrders::isWatched(o.id));
    EXPECT_TRUE(notices("/completed", o.id).empty());

    fillUp(o);
    std::vector<sim::platformRequest> f = finals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_EQ(field(f[0], "litre"), "10.00");
    EXPECT_EQ(field(f[0], "apikey"), "client,srv,azs");
    EXPECT_EQ(field(f[0], "extendedOrderId"), std::to_string(pcu.trannum(1)));

    // Volume counts at the progress marks, growing, with the key as received.
    std::vector<sim::platformRequest> vols = notices("/volume", o.id);
    ASSERT_GE(vols.size(), 2u);
    for (size_t i = 1; i < vols.size(); ++i)
        EXPECT_LE(std::stod(field(vols[i - 1], "litre")), std::stod(field(vols[i], "litre")));
    EXPECT_EQ(field(vols[0], "apikey"), o.apikey());
    std::vector<std::string> msgs = messages(o.id);
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs[0], "ТРК готова к пуску. Cнимите пистолет");

    // Started once, the payment locked for this workplace, then the receipt.
    EXPECT_EQ(pcu.receivedCommands("PSET").size(), 1u);
    std::vector<std::string> lines = pcu.receivedControlLines();
    auto at = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) - lines.begin(); };
    EXPECT_LT(at("@!WPWRK;TYP=1;TRK=1;"), at("@!PRNQ;NUM=1;TYP=5;"));
    EXPECT_LT(at("@!PRNQ;NUM=1;TYP=5;"), static_cast<long>(lines.size()));
    EXPECT_TRUE(tagCleared(1));
    EXPECT_TRUE(waitStatus(1, 3)) << "settled";
    EXPECT_EQ(peek(record(1).blocked), 0);
}

TEST_F(FuelingFlow, PumpNeverStartedIsStoppedAtTheOrderTimeout)
{
    start(5);
    order o;
    pcu.setNeverLift(1, true);
    placeOrder(o);
    EXPECT_EQ(fueling(o).status, 200);
    std::vector<sim::platformRequest> f = finals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/canceled");
    EXPECT_EQ(field(f[0], "reason"), "Отмена заказа по таймауту пуска ТРК");
    EXPECT_EQ(field(f[0], "apikey"), o.apikey());
    EXPECT_FALSE(pcu.receivedCommands("STOP").empty());
    EXPECT_LE(pcu.receivedCommands("STOP").size(), 2u) << "an idle pump is not stopped again";
    for (const std::string& m : messages(o.id)) EXPECT_EQ(m.find("таймаут"), std::string::npos);
    EXPECT_TRUE(tagCleared(1));
    EXPECT_TRUE(pcudata::trkStatus::idle(pcu.status(1)));
}

// The timeout applies only until fuel flows, and only with a timeout and a tag time.
TEST_F(FuelingFlow, StartTimeoutDoesNotApply)
{
    struct row {
        const char* what;
        int timeout;
        bool tagTime;
        bool deliverFirst;
    } rows[] = {
        {"delivered, then stopped", 20, true, true},
        {"timeout 0", 0, true, false},
        {"no tag time", 5, false, false},
    };
    start(20);
    int trk = 1;
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        order o;
        o.id = std::string("T-") + std::to_string(trk);
        o.trk = trk++;
        serve({{"order_timeout", std::to_string(r.timeout)}});
        placeOrder(o);
        if (!r.tagTime) tag(o, 0);
        time_t tagged = pcudata::timeSrc().now();
        ASSERT_EQ(fueling(o).status, 200);
        ASSERT_TRUE(waitStatus(o.trk, 6));
        if (r.deliverFirst) {
            pcu.liftNozzle(o.trk);
            ASSERT_TRUE(waitRecord(o.trk, [](const trkState_t& s) { return peek(s.volume) > 1000; }));
            ASSERT_EQ(stopFromTill(o.trk), 1);
            ASSERT_TRUE(waitStatus(o.trk, 14));
        }
        // Well past the timeout of the other rows.
        pcu.waitFor([&] { return pcudata::timeSrc().now() > tagged + 30; }, WAIT_MS);
        EXPECT_TRUE(notices("/canceled", o.id).empty());
        EXPECT_TRUE(azs_apps::watchedOrders::isWatched(o.id));
        if (r.deliverFirst) {
            std::vector<std::string> m = messages(o.id);
            EXPECT_NE(std::find(m.begin(), m.end(),
                                "ТРК остановлена, для окончания заправки требуется повесить пистолет"),
                      m.end());
            pcu.hangNozzle(o.trk);
        } else {
            fillUp(o);
        }
        std::vector<sim::platformRequest> f = finals(o.id);
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].path, "/completed");
    }
}

// A zero delivery still waits for settlement: it is locked and settled all the same, also when the
// connection is cut before the payment lock (made again on a new connection) or the lock's answer
// is lost (recognised on the pump).
TEST_F(FuelingFlow, DeliveryEndsWithoutCompletion)
{
    const char* const zero = "Нулевой объем отпуска. (отмена заказа)";
    struct row {
        const char* what;
        std::function<void(sim::pcuSimulator&)> fault;
        const char* reason;
        bool receipt;
        const char* cut = "";  // how the connection is cut once the pump is started
    } rows[] = {
        {"zero volume", [](sim::pcuSimulator& p) { p.setZeroVolume(1, true); }, zero, true},
        {"reset mid-delivery", [](sim::pcuSimulator& p) { p.resetAt(1, 2000, 3); },
         "Произошел сброс ТРК в исходное состояние", false},
        {"zero volume, cut before the lock", [](sim::pcuSimulator& p) { p.setZeroVolume(1, true); }, zero,
         true, "before"},
        {"zero volume, the lock's answer lost", [](sim::pcuSimulator& p) { p.setZeroVolume(1, true); }, zero,
         true, "lost"},
    };
    start();
    int n = 0;
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        order o;
        o.id = "Z-" + std::to_string(++n);
        pcu.clearReceivedControlLines();
        r.fault(pcu);
        placeOrder(o);
        ASSERT_EQ(fueling(o).status, 200);
        ASSERT_TRUE(waitStatus(1, 6));
        if (std::string(r.cut) == "before") pcu.closeOnNext("WPWRK");
        if (std::string(r.cut) == "lost") cutAfter("WPWRK");
        pcu.liftNozzle(1);
        ASSERT_TRUE(waitStatus(1, 7));
        if (r.receipt) pcu.hangNozzle(1);  // 7 -> 9 -> 11 with nothing delivered
        finals(o.id);
        clock.sleepUs(20 * 1000000);  // a second notice would come within the retries' first seconds
        std::vector<sim::platformRequest> f = finals(o.id);
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].path, "/canceled");
        EXPECT_EQ(field(f[0], "reason"), r.reason);
        EXPECT_EQ(pcu.receivedCommands("PRNQ").size(), r.receipt ? 1u : 0u) << "the delivery is not settled";
        if (r.receipt) {
            EXPECT_TRUE(
                pcu.waitFor([&] { return pcu.needPayFlag(1) == 0 && pcu.lockType(1) == 0; }, WAIT_MS));
        }
        EXPECT_TRUE(tagCleared(1));
        pcu.setZeroVolume(1, false);
        pcu.hangNozzle(1);
        ASSERT_TRUE(waitRecord(1, [](const trkState_t& s) { return peek(s.status) == 3; }));
    }
}

TEST_F(FuelingFlow, NeedPayForLessThanASecondDoesNotEndTheWatch)
{
    start();
    order o;
    placeOrder(o);
    ASSERT_EQ(fueling(o).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    pcu.liftNozzle(1);
    ASSERT_TRUE(waitRecord(1, [](const trkState_t& s) { return peek(s.volume) >= 2000; }));
    // The watch sees 11 and looks again a second later; by then the pump delivers again.
    clock.holdNext(1000000);
    pcu.flashStatus(1, 11, 20);
    ASSERT_TRUE(clock.waitHeld(WAIT_MS));
    EXPECT_TRUE(waitStatus(1, 7));
    clock.release();
    ASSERT_TRUE(waitStatus(1, 9));
    pcu.hangNozzle(1);
    std::vector<sim::platformRequest> f = finals(o.id);
    EXPECT_EQ(finalText(f, "litre"), "10.00");
}

TEST_F(FuelingFlow, StartRefusals)
{
    start();
    // ERRPCU: one attempt, the pump put back, the controller's text in the reason.
    order o;
    placeOrder(o);
    pcu.refuseNext("PSET", 10, "ERRPCU", "Нет связи с ТРК 1");
    ASSERT_EQ(fueling(o).status, 200);
    std::vector<sim::platformRequest> f = finals(o.id);
    EXPECT_EQ(finalText(f, "reason"), "Ошибка пуска ТРК (Нет связи с ТРК 1)");
    EXPECT_EQ(pcu.receivedCommands("PSET").size(), 1u);
    EXPECT_FALSE(pcu.receivedCommands("STOP").empty());
    EXPECT_TRUE(tagCleared(1));
    EXPECT_TRUE(waitStatus(1, 3)) << "put back";

    // Any other refusal is tried again.
    order again;
    again.id = "A-2";
    placeOrder(again);
    pcu.clearReceivedControlLines();
    pcu.refuseNext("PSET", 5);
    ASSERT_EQ(fueling(again).status, 200);
    fillUp(again);
    f = finals(again.id);
    EXPECT_EQ(finalText(f, "litre"), "10.00");
    EXPECT_EQ(pcu.receivedCommands("PSET").size(), 2u);
}

// A start whose answer is lost but which the pump carried out is watched, not put back.
TEST_F(FuelingFlow, StartCarriedOutWithoutAnswerIsWatched)
{
    start();
    order o;
    placeOrder(o);
    pcu.dropNext("PSET");
    ASSERT_EQ(fueling(o).status, 200);
    fillUp(o);
    std::vector<sim::platformRequest> f = finals(o.id);
    EXPECT_EQ(finalText(f, "litre"), "10.00");
    EXPECT_EQ(pcu.receivedCommands("PSET").size(), 1u);
    EXPECT_TRUE(pcu.receivedCommands("STOP").empty());
}

TEST_F(FuelingFlow, RefusedRegistrationAnswers200AndCancels)
{
    start();
    order o;
    placeOrder(o);
    pcu.refuseNext("REGM", 9, "ERRPRM", "Отказ регистрации");
    webtest::httpReply r = fueling(o);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body,
              "{\"cmd\":\"REGM\",\"err\":13,\"msg\":\"Ошибка подключения к ТРК\",\"res\":9,\"stat\":10,"
              "\"tcod\":\"ERRPRM\",\"txt\":\"Отказ регистрации\"}");
    std::vector<sim::platformRequest> f = finals(o.id);
    EXPECT_EQ(finalText(f, "reason"), "Ошибка подключения к ТРК");
    EXPECT_TRUE(pcu.receivedCommands("PSET").empty());
    EXPECT_TRUE(tagCleared(1));
    EXPECT_TRUE(logs.has("fuelweb/fueling", Poco::Message::PRIO_ERROR, "Ошибка регистрации рабочего места"));
}

TEST_F(FuelingFlow, OverfillLocksThePumpOnlyBeyondTheLimit)
{
    struct row {
        int trk;
        double ordered;
        int64_t extraMl;
        int blocked;
    } rows[] = {
        {1, 10.0, 500, 0},
        {2, 10.0, 501, 1},
        {3, 4.999, 1000, 0},
    };
    start(120, {{"ctl_overfill_lock_allow", "true"},
                {"ctl_overfill_lock", "0.5"},
                {"ctl_overfill_lock_min_order", "5.0"}});
    for (const row& r : rows) {
        order o;
        o.id = "O-" + std::to_string(r.trk);
        o.trk = r.trk;
        o.volume = r.ordered;
        pcu.setOverfill(r.trk, r.extraMl);
        placeOrder(o);
        ASSERT_EQ(fueling(o).status, 200);
        fillUp(o);
    }
    for (const row& r : rows) {
        SCOPED_TRACE(r.trk);
        std::vector<sim::platformRequest> f = finals("O-" + std::to_string(r.trk));
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].path, "/completed");
        EXPECT_EQ(peek(record(r.trk).blocked), r.blocked);
        EXPECT_EQ(logs.has("fuelweb", Poco::Message::PRIO_WARNING,
                           "Установлена блокировка ТРК " + std::to_string(r.trk) + " по переливу"),
                  r.blocked == 1);
    }
}

TEST_F(FuelingFlow, FinishedDeliveryIsSettledAtStart)
{
    start();
    ASSERT_EQ(pcu.startLocalDelivery(2, 92, 5000), 1);
    pcu.liftNozzle(2);
    ASSERT_TRUE(pcu.waitForStatus(2, 9, WAIT_MS));
    pcu.hangNozzle(2);
    order o;
    o.id = "P-1";
    o.trk = 2;
    o.volume = 5.0;
    o.summa = 262.5;
    tagFinished(o);
    o.extendedId = std::to_string(pcu.trannum(2));
    pcu.clearReceivedControlLines();
    ASSERT_EQ(fueling(o).status, 200);
    std::vector<sim::platformRequest> f = finals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_EQ(field(f[0], "litre"), "5.00");
    EXPECT_EQ(field(f[0], "extendedOrderId"), o.extendedId);
    EXPECT_EQ(field(f[0], "apikey"), o.apikey());
    std::vector<std::string> lines = pcu.receivedControlLines();
    std::vector<std::string> cmds;
    for (const std::string& l : lines) cmds.push_back(l.substr(0, l.find(';')));
    EXPECT_EQ(cmds, (std::vector<std::string>{"@!REGM", "@!WPWRK", "@!CHPMT", "@!PRNQ"}));
    EXPECT_TRUE(tagCleared(2));
}

TEST_F(FuelingFlow, RepeatedRequestStartsNothingAndNoSecondNotice)
{
    start();
    order o;
    placeOrder(o);
    ASSERT_EQ(fueling(o).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    webtest::httpReply again = fueling(o);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, "{\"err\":0,\"msg\":\"Команда на пуск ТРК принята\",\"stat\":6}");
    EXPECT_TRUE(logs.has("fuelweb/fueling", Poco::Message::PRIO_WARNING,
                         "Заказ 'A-1' на ТРК 1 уже обслуживается, повторный запрос на пуск не выполняется"));
    fillUp(o);
    std::vector<sim::platformRequest> f = finals(o.id);
    EXPECT_EQ(f.size(), 1u);
    EXPECT_EQ(pcu.receivedCommands("PSET").size(), 1u);
    EXPECT_EQ(pcu.receivedCommands("REGM").size(), 2u) << "the order's reservation and the one start";
}

// A pump that loses its link after the start may have delivered: the order is kept, and the
// operator is told while nothing moves.
TEST_F(FuelingFlow, LostLinkKeepsTheOrderAndWarns)
{
    start();
    order o;
    placeOrder(o);
    ASSERT_EQ(fueling(o).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    pcu.liftNozzle(1);
    ASSERT_TRUE(waitRecord(1, [](const trkState_t& s) { return peek(s.volume) >= 1000; }));
    pcu.setPumpStatus(1, 1);
    ASSERT_TRUE(waitStatus(1, 1));
    clock.setFactor(2000);  // minutes in a fraction of a second
    bool warned = pcu.waitFor(
        [&] {
            for (const std::string& t : logs.texts("fuelweb/fueling"))
                if (t.find("ТРК 1 без изменений 5 мин. (статус 1") == 0) return true;
            return false;
        },
        WAIT_MS);
    clock.setFactor(SPEED);
    EXPECT_TRUE(warned);
    EXPECT_TRUE(notices("/canceled", o.id).empty());
    pcu.setPumpStatus(1, 7);
    ASSERT_TRUE(waitStatus(1, 9));
    pcu.hangNozzle(1);
    std::vector<sim::platformRequest> f = finals(o.id);
    EXPECT_EQ(finalText(f, "litre"), "10.00");
}

}  // namespace
