// The keeper of our workplace's holds, against the simulated controller and the monitor loop: what a
// request or a process left held for nobody is given back, and nothing that is somebody else's.
#include <gtest/gtest.h>

#include <Poco/Message.h>

#include "fuelingStation.h"
#include "holdKeeper.h"
#include "operatorRequests.h"
#include "pumpHolds.h"

using pcudata::peek;
using webtest::order;
namespace state = azs_apps::state;

namespace {

class HoldKeeper : public webtest::StateFileStation {
protected:
    std::unique_ptr<azs_apps::holdKeeper> keeper;

    void TearDown() override
    {
        keeper.reset();
        StateFileStation::TearDown();
    }
    void keep() { keeper = std::make_unique<azs_apps::holdKeeper>(svc->settings(), durable->holds()); }

    webtest::httpReply placeOrderOf(const order& o)
    {
        return webtest::httpPost(svc->port(), "/api/fuelweb/order?apikey=" + o.apikey(), "application/json",
                                 o.body());
    }
    // A session of the controller as a workplace: 20 is ours, any other a till.
    std::unique_ptr<pcudata::pcuControl> workplace(int wplace)
    {
        auto s = std::make_unique<pcudata::pcuControl>("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
        s->set_wplace(wplace);
        return s;
    }
    int command(int wplace,
                const std::function<int(pcudata::pcuControl&, pcudata::cntlMsgResult&, int&)>& cmd)
    {
        std::unique_ptr<pcudata::pcuControl> s = workplace(wplace);
        pcudata::cntlMsgResult res;
        int err = 0;
        return cmd(*s, res, err);
    }
    std::vector<std::string> pumpCommands(const std::string& cmd, int trk) const
    {
        std::vector<std::string> out;
        const std::string num = (cmd == "WPWRK" ? ";TRK=" : ";NUM=") + std::to_string(trk) + ";";
        for (const std::string& l : pcu.receivedCommands(cmd))
            if (l.find(num) != std::string::npos ||
                l.find("TRK=" + std::to_string(trk) + ";") != std::string::npos)
                out.push_back(l);
        return out;
    }
};

// A reservation whose /fueling never came is released once the start timeout has passed since its
// tag, with one cancellation; a /fueling that comes afterwards finds no order.
TEST_F(HoldKeeper, ReservationWithoutFuelingEndsAtItsTimeout)
{
    begin(5);
    keep();
    order a;
    ASSERT_EQ(placeOrderOf(a).status, 200);
    ASSERT_TRUE(waitStatus(1, 3)) << "released";
    EXPECT_EQ(pumpCommands("PWORK", 1).back(), "@!PWORK;NUM=1;TYP=2;");
    std::vector<sim::platformRequest> f = finals(a.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/canceled");
    EXPECT_EQ(field(f[0], "reason"), "Отмена заказа по таймауту пуска ТРК");
    EXPECT_EQ(field(f[0], "apikey"), "client,srv,azs");
    EXPECT_EQ(peek(record(1).tagged), 0);
    EXPECT_TRUE(durable->holds()->open().empty());
    EXPECT_EQ(fueling(a).status, 400);
    durable->flushJournal();
    std::vector<std::string> kinds = webtest::journalKinds(stateFiles.file(), a.id);
    EXPECT_EQ(std::count_if(kinds.begin(), kinds.end(),
                            [](const std::string& k) { return k.rfind("start_timeout:", 0) == 0; }),
              1)
        << ::testing::PrintToString(kinds);
}

// The controller lost a reservation (restarted, or a till released it): the tag on the idle pump
// is cleared and the order cancelled, without a command to the pump.
TEST_F(HoldKeeper, TagOnAPumpShownIdleIsCleared)
{
    begin();
    keep();
    order a;
    ASSERT_EQ(placeOrderOf(a).status, 200);
    pcu.setPumpStatus(1, 3);
    std::vector<sim::platformRequest> f = finals(a.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(field(f[0], "reason"), "Произошел сброс ТРК в исходное состояние");
    EXPECT_TRUE(pumpCommands("PWORK", 1).size() == 1) << "only the reservation went out";
    EXPECT_EQ(peek(record(1).tagged), 0);
}

// Holds a killed process left behind, as intents or tagged, are given back at the first look when
// the pump shows them as ours and carries no order; the others are only closed. A payment lock of
// an order whose completion was sent stays: the platform charges for that delivery.
TEST_F(HoldKeeper, HoldsLeftByAKilledProcessAreGivenBackAtTheFirstLook)
{
    start(120, {{"state_path", "\"" + stateFiles.file() + "\""}});
    // Pump 1 reserved for our workplace; pump 2 waits for payment locked by us; pump 4 idle;
    // pump 3 locked by us for an order whose completion is in the outbox.
    ASSERT_EQ(command(20, [](auto& s, auto& r, int& e) { return s.reserve_trk(1, r, e, 92, -1); }), 1);
    deliveredAtThePump(2);
    deliveredAtThePump(3);
    ASSERT_EQ(command(20, [](auto& s, auto& r, int& e) { return s.LockPayment(2, "P-2", r, e, 1); }), 1);
    ASSERT_EQ(command(20, [](auto& s, auto& r, int& e) { return s.LockPayment(3, "P-3", r, e, 1); }), 1);
    ASSERT_TRUE(waitRecord(3, [](const pcudata::trkState_t& r) { return peek(r.lockType) == 1; }));
    ASSERT_TRUE(waitRecord(1, [](const pcudata::trkState_t& r) { return peek(r.lockWplace) == 20; }));
    {
        std::string error;
        auto db =
            state::stateDb::open(stateFiles.file(), state::stateDb::readWrite, state::stateDb::full, error);
        ASSERT_TRUE(db) << error;
        // As old as the orders of a process that ended a minute ago (older rows would be forgotten).
        const std::string at = std::to_string(clock.now() - 60);
        ASSERT_TRUE(db->exec(("INSERT INTO holds (order_id, pump, kind, stage, created_at) VALUES "
                              "('R-1', 1, 'reservation', 'intent', " +
                              at + "), ('P-2', 2, 'payment', 'intent', " + at +
                              "), "
                              "('R-4', 4, 'reservation', 'intent', " +
                              at + "), ('P-3', 3, 'payment', 'held', " + at +
                              ");"
                              "INSERT INTO outbox (order_id, kind, apikey, ext_order_id, state, created_at, "
                              "next_at, deadline_at) "
                              "VALUES ('P-3', 'complete', 'client,srv,azs', '7', 'delivered', " +
                              at + ", 0, 0);")
                                 .c_str()));
    }
    durable = std::make_unique<azs_apps::durableState>(azs_apps::settings::read(
        azs_apps::webConfig::fromText("{\"fuelweb\":{\"state_path\":\"" + stateFiles.file() +
                                      "\",\"upstream_endpoint\":\"" + platform.baseUrl() + "\"}}")));
    ASSERT_EQ(durable->holds()->open().size(), 4u);
    pcu.clearReceivedControlLines();
    keep();

    EXPECT_EQ(pumpCommands("PWORK", 1), std::vector<std::string>{"@!PWORK;NUM=1;TYP=2;"});
    EXPECT_EQ(pcu.status(1), 3);
    EXPECT_EQ(pumpCommands("WPWRK", 2), std::vector<std::string>{"@!WPWRK;TYP=0;TRK=2;"});
    EXPECT_EQ(pcu.lockType(2), 0) << "the till can take the payment";
    EXPECT_EQ(command(1, [](auto& s, auto& r, int& e) { return s.print_virt(2, "", r, e); }), 1);
    EXPECT_TRUE(pumpCommands("PWORK", 4).empty());
    EXPECT_TRUE(pumpCommands("WPWRK", 3).empty());
    EXPECT_EQ(pcu.lockType(3), 1);
    EXPECT_TRUE(logs.hasPart("fuelweb/holds", Poco::Message::PRIO_ERROR, "Требуется проверка оператором"));
    EXPECT_TRUE(durable->holds()->open().empty());
    durable->flushJournal();
    EXPECT_EQ(webtest::journalKinds(stateFiles.file(), "R-1").size(), 1u);
}

// A reservation of our workplace that no hold and no tag explain is released after a while; a
// till's reservation is never touched.
TEST_F(HoldKeeper, ReservationOfOursThatNothingExplainsIsReleased)
{
    begin();
    keep();
    ASSERT_EQ(command(20, [](auto& s, auto& r, int& e) { return s.reserve_trk(2, r, e, 92, -1); }), 1);
    ASSERT_EQ(command(1, [](auto& s, auto& r, int& e) { return s.reserve_trk(3, r, e, 92, -1); }), 1);
    ASSERT_TRUE(waitStatus(2, 3));
    EXPECT_EQ(pumpCommands("PWORK", 2).back(), "@!PWORK;NUM=2;TYP=2;");
    clock.sleepUs(2 * azs_apps::holdKeeper::IDLE_GRACE_SEC * 1000000);
    EXPECT_EQ(pcu.status(3), 10);
    EXPECT_EQ(pumpCommands("PWORK", 3).size(), 1u);
}

// The operator's release through the state file: a payment lock of ours that no order needs is
// reset; a pump whose order is being served is refused.
TEST_F(HoldKeeper, OperatorReleaseIsCarriedOutOrRefused)
{
    begin();
    keep();
    deliveredAtThePump(3);
    ASSERT_EQ(command(20, [](auto& s, auto& r, int& e) { return s.LockPayment(3, "", r, e, 1); }), 1);
    order served;
    served.trk = 1;
    ASSERT_EQ(placeOrderOf(served).status, 200);
    ASSERT_EQ(fueling(served).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));

    std::string error;
    auto db = state::stateDb::open(stateFiles.file(), state::stateDb::update, state::stateDb::full, error);
    ASSERT_TRUE(db) << error;
    const int64_t locked =
        state::operatorRequests::ask(*db, state::operatorRequests::RELEASE, 3, clock.now());
    const int64_t busy = state::operatorRequests::ask(*db, state::operatorRequests::RELEASE, 1, clock.now());
    state::operatorRequest r;
    ASSERT_TRUE(pcu.waitFor(
        [&] {
            return state::operatorRequests::find(*db, busy, r) && r.state != state::operatorRequests::ASKED;
        },
        WAIT_MS));
    EXPECT_EQ(r.state, "refused");
    EXPECT_EQ(r.result, "ТРК обслуживает заказ 'A-1'");
    ASSERT_TRUE(state::operatorRequests::find(*db, locked, r));
    EXPECT_EQ(r.state, "done") << r.result;
    EXPECT_EQ(pcu.lockType(3), 0);
    EXPECT_EQ(pcu.status(1), 6) << "the served order's pump is untouched";
    fillUp(served);
    EXPECT_EQ(finals(served.id).size(), 1u);
}

}  // namespace
