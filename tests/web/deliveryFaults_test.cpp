// Deliveries that meet a fault at the wrong moment, against the simulated controller and the monitor
// loop: a pump table the monitor no longer renews when the start timeout comes, and the payment
// lock of a post-payment order when its settlement can't go through.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "fuelingStation.h"

using pcudata::peek;
using webtest::order;

namespace {

class DeliveryFaults : public webtest::FuelingStation {
protected:
    // A delivery of 5 l made at the pump, its payment locked by our workplace as /order's
    // post-payment road locks it, and the pump tagged with the order that pays it.
    order postPaid(int trk)
    {
        deliveredAtThePump(trk, 5000);
        pcudata::pcuControl ours("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
        ours.set_wplace(20);
        pcudata::cntlMsgResult res;
        int err = 0;
        EXPECT_EQ(ours.LockPayment(trk, "", res, err, 1), 1);
        EXPECT_TRUE(waitRecord(trk, [](const pcudata::trkState_t& r) { return peek(r.lockType) == 1; }));
        order o;
        o.id = "P-" + std::to_string(trk);
        o.trk = trk;
        o.volume = 5.0;
        o.summa = 262.5;
        o.extendedId = std::to_string(pcu.trannum(trk));
        tag(o);
        return o;
    }
    // The till takes the payment of the pump's delivery.
    int tillSettles(int trk)
    {
        pcudata::pcuControl till("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
        till.set_wplace(1);
        pcudata::cntlMsgResult res;
        int err = 0;
        return till.print_virt(trk, "", res, err);
    }
};

// The daemon is killed while the order waits for the nozzle: its last dataTime stays, so for up to
// 30 s the table shows the pump waiting while the driver lifts the nozzle and fuel flows. The start
// timeout's stop then leaves fuel on the pump: the order is watched on and completed with it once
// the table is renewed (and the pump's record with it), not cancelled.
TEST_F(DeliveryFaults, StartTimeoutOnATableNobodyRenewsIsDecidedWhenItIsRenewed)
{
    start(5);
    order o;
    placeOrder(o);
    ASSERT_EQ(fueling(o).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    follower.reset();
    pcudata::poke(controller().dataTime, static_cast<int64_t>(clock.now()));  // killed: left as it was
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitFor([&] { return !pcu.receivedCommands("STOP").empty(); }, WAIT_MS)) << "timed out";
    ASSERT_TRUE(pcu.waitForStatus(1, 14, WAIT_MS)) << "stopped with fuel on the pump";
    clock.sleepUs(40 * 1000000);
    EXPECT_TRUE(notices("/canceled", o.id).empty()) << "cancelled on a frozen table";

    // A daemon started again renews the table's time before the lines of its new connection have
    // rewritten the pump's record, which for a moment still shows the pump waiting.
    pcudata::poke(controller().dataTime, static_cast<int64_t>(clock.now()));
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(1000 / SPEED)));
    EXPECT_TRUE(notices("/canceled", o.id).empty()) << "cancelled on a record not yet rewritten";
    followController();
    pcu.hangNozzle(1);
    std::vector<sim::platformRequest> f = finals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_GT(std::stod(field(f[0], "litre")), 0.0);
    EXPECT_TRUE(pcu.waitFor([&] { return pcu.needPayFlag(1) == 0 && pcu.status(1) == 3; }, WAIT_MS))
        << "settled";
}

// The settlement's payment lock meets a cut connection: it is made again on a new one, and the
// order completes.
TEST_F(DeliveryFaults, SettlementLockOnACutConnectionIsTriedAgain)
{
    start();
    order o = postPaid(2);
    pcu.closeOnNext("WPWRK");
    ASSERT_EQ(fueling(o).status, 200);
    std::vector<sim::platformRequest> f = finals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_EQ(field(f[0], "litre"), "5.00");
    EXPECT_TRUE(pcu.waitFor([&] { return pcu.status(2) == 3 && pcu.lockType(2) == 0; }, WAIT_MS));
}

// A post-payment order that ends cancelled (its settlement refused, or the pump table stale from
// its /fueling to its start timeout) gives back the payment lock it holds: the till takes the
// payment, once.
TEST_F(DeliveryFaults, CancelledPostPaymentOrderGivesThePaymentBackToTheTill)
{
    start(5);
    struct row {
        const char* what;
        std::function<void()> fault;
        const char* reasonStart;
    } rows[] = {
        {"settlement refused", [&] { pcu.refuseNext("WPWRK", 13); }, "Отмена оплаты заказа ("},
        {"table stale", [&] { follower.reset(); }, "Нет связи с ТРК"},
    };
    int trk = 2;
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        if (!follower) followController();
        order o = postPaid(trk);
        r.fault();
        ASSERT_EQ(fueling(o).status, 200);
        std::vector<sim::platformRequest> f = finals(o.id);
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].path, "/canceled");
        EXPECT_EQ(field(f[0], "reason").rfind(r.reasonStart, 0), 0u) << field(f[0], "reason");
        EXPECT_TRUE(pcu.waitFor([&] { return pcu.lockType(trk) == 0; }, WAIT_MS)) << "the lock stays";
        EXPECT_EQ(tillSettles(trk), 1);
        EXPECT_EQ(pcu.status(trk), 3);
        ++trk;
    }
}

// The monitor restarts while /fueling of a post-payment order comes: the decision waits for the
// table, and the delivery is settled and completed, not cancelled for want of a link.
TEST_F(DeliveryFaults, PostPaymentOrderWaitsForTheTableToBeRenewed)
{
    start();
    order o = postPaid(2);
    follower.reset();
    ASSERT_EQ(fueling(o).status, 200);
    clock.sleepUs(10 * 1000000);
    EXPECT_TRUE(notices("/canceled", o.id).empty()) << "cancelled while the table was stale";
    followController();
    std::vector<sim::platformRequest> f = finals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_EQ(field(f[0], "litre"), "5.00");
    EXPECT_TRUE(pcu.waitFor([&] { return pcu.status(2) == 3 && pcu.lockType(2) == 0; }, WAIT_MS));
}

}  // namespace
