// Orders racing for one pump, against the simulated controller and the monitor loop. Each case ends
// with exactly one final notice per started order, carrying that order's own transaction and
// litres, and with no pump left held by our workplace.
#include <gtest/gtest.h>

#include <Poco/JSON/Parser.h>

#include <future>

#include "fuelingStation.h"

using pcudata::peek;
using webtest::order;

namespace {

constexpr int64_t SECOND_US = 1000000;
const char* const RESET = "Произошел сброс ТРК в исходное состояние";

// The checks every case ends with, on either station.
template <class Station>
class OwnershipChecks : public Station {
protected:
    webtest::httpReply placeOrderOf(const order& o)
    {
        return webtest::httpPost(this->svc->port(), "/api/fuelweb/order?apikey=" + o.apikey(),
                                 "application/json", o.body());
    }
    // The final notices of an order: exactly one is expected of every order that /fueling took.
    void expectCompleted(const order& o, int32_t trannum, const char* litre)
    {
        std::vector<sim::platformRequest> f = this->finals(o.id);
        ASSERT_EQ(f.size(), 1u) << o.id;
        EXPECT_EQ(f[0].path, "/completed") << o.id;
        EXPECT_EQ(this->field(f[0], "extendedOrderId"), std::to_string(trannum)) << o.id;
        EXPECT_EQ(this->field(f[0], "litre"), litre) << o.id;
    }
    void expectCancelled(const order& o, const char* reason)
    {
        std::vector<sim::platformRequest> f = this->finals(o.id);
        ASSERT_EQ(f.size(), 1u) << o.id;
        EXPECT_EQ(f[0].path, "/canceled") << o.id;
        EXPECT_EQ(this->field(f[0], "reason"), reason) << o.id;
    }
    // Idle, untagged, neither reserved nor locked by any workplace, nothing left to pay.
    void expectFree(int trk)
    {
        sim::pcuSimulator& pcu = this->pcu;
        EXPECT_TRUE(pcu.waitFor([&] { return pcu.status(trk) == 3 || pcu.status(trk) == 2; }, 30000));
        EXPECT_TRUE(pcu.waitFor([&] { return peek(this->record(trk).tagged) == 0; }, 30000)) << "left tagged";
        EXPECT_EQ(pcu.lockWplace(trk), 0);
        EXPECT_EQ(pcu.lockType(trk), 0);
        EXPECT_EQ(pcu.needPayFlag(trk), 0);
    }
    static int32_t trannumOf(const webtest::httpReply& r)
    {
        Poco::JSON::Object::Ptr o = Poco::JSON::Parser().parse(r.body).extract<Poco::JSON::Object::Ptr>();
        return o->has("trannum") ? o->getValue<int32_t>("trannum") : 0;
    }
    // Checked once the other order of the case has ended: a notice of this one would be out by then.
    bool noFinals(const order& o) const
    {
        return this->notices("/completed", o.id).empty() && this->notices("/canceled", o.id).empty();
    }
    void finishDelivery(const order& o)
    {
        ASSERT_EQ(this->fueling(o).status, 200);
        this->fillUp(o);
    }
};

// Without a state file: no holds are kept, and the order's fence alone keeps the orders apart.
class OwnershipRace : public OwnershipChecks<webtest::FuelingStation> {
protected:
    // An order started and waiting for the driver to lift the nozzle.
    int32_t waitingForNozzle(const order& o)
    {
        webtest::httpReply placed = placeOrderOf(o);
        EXPECT_EQ(placed.status, 200) << placed.body;
        EXPECT_EQ(fueling(o).status, 200);
        EXPECT_TRUE(waitStatus(o.trk, 6));
        return trannumOf(placed);
    }
};

// With the state file: the holds of our workplace refuse a second order on a held pump.
class OwnershipRaceWithHolds : public OwnershipChecks<webtest::StateFileStation> {};

// The pump is reset at the pump while its order waits for the nozzle, and within the watch's one
// second look a new order reserves it: the first order is cancelled, never completed with the
// second order's fuel.
TEST_F(OwnershipRace, ResetThenNewOrderInsideTheWatchsLook)
{
    start();
    order e;
    e.id = "E-1";
    waitingForNozzle(e);
    clock.holdNext(SECOND_US);  // the watch's look at an idle pump
    pcu.setPumpStatus(1, 3);
    ASSERT_TRUE(clock.waitHeld(WAIT_MS));
    order f;
    f.id = "F-1";
    webtest::httpReply placed = placeOrderOf(f);
    ASSERT_EQ(placed.status, 200) << placed.body;
    clock.release();

    expectCancelled(e, RESET);
    EXPECT_TRUE(
        logs.hasPart("fuelweb/fueling", Poco::Message::PRIO_ERROR, "больше не обслуживает заказ 'E-1'"));
    finishDelivery(f);
    expectCompleted(f, trannumOf(placed), "10.00");
    EXPECT_EQ(finals(e.id).size(), 1u) << "still one";
    expectFree(1);
}

// A delivery started at the pump itself (another transaction under the order's tag) inside the
// look: the order is cancelled, and the till's delivery is left to the till, unpaid and unlocked.
TEST_F(OwnershipRace, TillDeliveryUnderTheOrdersTagInsideTheWatchsLook)
{
    start();
    order e;
    e.id = "E-2";
    waitingForNozzle(e);
    clock.holdNext(SECOND_US);
    pcu.setPumpStatus(1, 3);
    ASSERT_TRUE(clock.waitHeld(WAIT_MS));
    ASSERT_EQ(pcu.startLocalDelivery(1, 92, 2000), 1);
    ASSERT_TRUE(waitStatus(1, 6));
    clock.release();

    expectCancelled(e, RESET);
    pcu.liftNozzle(1);
    ASSERT_TRUE(waitStatus(1, 9));
    pcu.hangNozzle(1);
    ASSERT_TRUE(waitStatus(1, 11)) << "the till's delivery ends";
    EXPECT_TRUE(notices("/completed", e.id).empty());
    EXPECT_EQ(pcu.lockType(1), 0) << "the till can take its payment";
    EXPECT_TRUE(pcu.receivedCommands("WPWRK").empty());
    EXPECT_TRUE(pcu.receivedCommands("PRNQ").empty());
}

// /canceled for a reservation stops the pump; inside its one second pause another order reserves
// the pump: that reservation is not reset, and the second order is served.
TEST_F(OwnershipRace, CancelRacingANewOrderInsideItsPause)
{
    start();
    order a;
    a.id = "A-3";
    ASSERT_EQ(placeOrderOf(a).status, 200);
    ASSERT_TRUE(waitStatus(1, 10));
    clock.holdNext(SECOND_US);  // the cancel's pause after its stop
    auto cancelled = std::async(std::launch::async, [&] { return cancel(a.apikey(), a.id).status; });
    ASSERT_TRUE(clock.waitHeld(WAIT_MS));
    ASSERT_TRUE(waitStatus(1, 3));
    order b;
    b.id = "B-3";
    webtest::httpReply placed = placeOrderOf(b);
    ASSERT_EQ(placed.status, 200) << placed.body;
    const size_t resets = pcu.receivedCommands("TSTBD").size();
    clock.release();
    EXPECT_EQ(cancelled.get(), 200);
    EXPECT_EQ(pcu.receivedCommands("TSTBD").size(), resets) << "the second order's reservation was reset";
    EXPECT_EQ(pcu.status(1), 10);

    finishDelivery(b);
    expectCompleted(b, trannumOf(placed), "10.00");
    EXPECT_TRUE(noFinals(a)) << "never started";
    expectFree(1);
}

// A reservation whose answer is lost while a till reserves the pump: the till's reservation is
// not ours to release.
TEST_F(OwnershipRace, LostReservationAnswerWhileATillReserves)
{
    start();
    // The till takes the pump right after the order's price check, on a connection it has open
    // already; the order's reservation is then refused by the controller and its answer lost.
    pcudata::pcuControl till("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
    till.set_wplace(1);
    pcudata::cntlMsgResult res;
    int err = 0;
    ASSERT_EQ(till.register_wrkplace(res, err), 1);
    pcu.setAfterCommand([&](const std::string& line) {
        if (line.rfind("@!GETPRS", 0) != 0) return;
        pcu.setAfterCommand(nullptr);
        till.reserve_trk(1, res, err, 92, -1);
        pcu.dropNext("PWORK");
    });
    order e;
    e.id = "E-4";
    webtest::httpReply placed = placeOrderOf(e);
    EXPECT_EQ(placed.status, 404) << placed.body;
    EXPECT_EQ(pcu.status(1), 10);
    EXPECT_EQ(pcu.lockWplace(1), 1) << "the till's reservation stays";
    for (const std::string& l : pcu.receivedCommands("PWORK"))
        EXPECT_EQ(l.find("TYP=2"), std::string::npos) << l;
    EXPECT_TRUE(noFinals(e));
    EXPECT_EQ(peek(record(1).tagged), 0);
}

// Two orders for one pump at once: one is reserved and served, the other refused before anything
// of it reaches the controller's pump.
TEST_F(OwnershipRaceWithHolds, TwoOrdersForOnePumpAtOnce)
{
    begin();
    pcu.delayNext("PWORK", 50);  // the first reservation is still under way when the second comes
    order e, f;
    e.id = "E-5";
    f.id = "F-5";
    auto first = std::async(std::launch::async, [&] { return placeOrderOf(e); });
    auto second = std::async(std::launch::async, [&] { return placeOrderOf(f); });
    webtest::httpReply re = first.get(), rf = second.get();
    ASSERT_EQ((re.status == 200) + (rf.status == 200), 1) << re.body << " / " << rf.body;
    const order& won = re.status == 200 ? e : f;
    const order& lost = re.status == 200 ? f : e;
    finishDelivery(won);
    expectCompleted(won, trannumOf(re.status == 200 ? re : rf), "10.00");
    EXPECT_TRUE(noFinals(lost));
    expectFree(1);
}

// With the holds kept, the new order of the first case is refused while the order reset at the
// pump still holds it, and is served once the first one has ended.
TEST_F(OwnershipRaceWithHolds, ResetThenNewOrderIsRefusedUntilTheFirstHasEnded)
{
    begin();
    order e;
    e.id = "E-6";
    ASSERT_EQ(placeOrderOf(e).status, 200);
    ASSERT_EQ(fueling(e).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    clock.holdNext(SECOND_US);
    pcu.setPumpStatus(1, 3);
    ASSERT_TRUE(clock.waitHeld(WAIT_MS));
    order f;
    f.id = "F-6";
    webtest::httpReply refused = placeOrderOf(f);
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(refused.body, "{\"msg\":\"ТРК занята\",\"stat\":3}");
    clock.release();
    expectCancelled(e, RESET);

    webtest::httpReply placed = placeOrderOf(f);
    ASSERT_EQ(placed.status, 200) << placed.body;
    finishDelivery(f);
    expectCompleted(f, trannumOf(placed), "10.00");
    expectFree(1);
}

}  // namespace
