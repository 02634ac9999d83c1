// fuelweb killed (SIGKILL) at each hold it takes with the controller, right after the controller
// carried the command out and before its answer came back; then started again. The hold is given
// back (the till can take the payment, once), or the order it was taken for completes, once.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

#include "fuelwebProcess.h"
#include "orderTestSupport.h"
#include "pcuControl.h"

#include <chrono>
#include <thread>

namespace {

using namespace webtest;
using ordertest::json;
using ordertest::orderBody;

class HoldKill : public FuelwebProcess {
protected:
    void SetUp() override
    {
        FuelwebProcess::SetUp();
        writeConfig(stateFile(), ",\"ctl_postpay_allow\":true,\"notice_resend_interval\":1");
        startService();
    }
    // fuelweb is killed once the controller has carried out the first command that starts with
    // prefix, before the command's answer goes out (on the controller's thread: with the signal
    // alone; the test reaps the child).
    void killAt(const std::string& prefix)
    {
        const pid_t child = fw->processId();
        pcu.setAfterCommand([this, prefix, child](const std::string& line) {
            if (line.rfind(prefix, 0) != 0) return;
            pcu.setAfterCommand(nullptr);
            ::kill(child, SIGKILL);
            killed = true;
        });
    }
    void reapKilled()
    {
        ASSERT_TRUE(stationRig::waitFor([&] { return killed.load(); }, 20000));
        fw->kill();
    }
    std::atomic<bool> killed{false};
    void settlementKilled(bool carriedOut);
    size_t delivered(const std::string& path, const std::string& orderId) const
    {
        size_t n = 0;
        for (const auto& r : platform.requestsTo(path))
            if (r.status == 200 && r.body.find("orderId=" + orderId + "&") != std::string::npos) ++n;
        return n;
    }
    // A delivery made at the pump and waiting for its payment at the till.
    void unpaidDelivery(int trk, int64_t ml)
    {
        ASSERT_EQ(pcu.startLocalDelivery(trk, 92, ml), 1);
        ASSERT_TRUE(pcu.waitForStatus(trk, 6, 10000));
        pcu.liftNozzle(trk);
        ASSERT_TRUE(pcu.waitForStatus(trk, 9, 10000));
        pcu.hangNozzle(trk);
        ASSERT_TRUE(pcu.waitForStatus(trk, 11, 10000));
    }
    // An order whose process is killed under it: no answer comes.
    void orderKilled(const std::string& body)
    {
        try {
            order(body);
        } catch (const std::exception&) {
        }
        reapKilled();
    }
    bool journalHas(const std::string& orderId, const std::string& text)
    {
        return stationRig::waitFor(
            [&] {
                return ctl({"order", orderId}).out.find(text) != std::string::npos;
            },
            10000);
    }
};

TEST_F(HoldKill, ReservationIsReleasedAfterTheRestart)
{
    killAt("@!PWORK;NUM=1;TYP=1;");
    orderKilled(orderBody());
    EXPECT_EQ(pcu.status(1), 10);
    EXPECT_EQ(pcu.lockWplace(1), 20) << "reserved for our workplace, and nobody knows it";

    startService();
    ASSERT_TRUE(pcu.waitForStatus(1, 3, 10000)) << fw->log();
    EXPECT_EQ(pcu.receivedCommands("PWORK").back(), "@!PWORK;NUM=1;TYP=2;");
    EXPECT_TRUE(journalHas("A-1", "удержание снято"));
    // The pump takes the next order as ever.
    httpReply again = order(orderBody({{"id", "\"A-2\""}}));
    EXPECT_EQ(again.status, 200) << again.body;
}

TEST_F(HoldKill, PostPaymentLockIsGivenBackToTheTill)
{
    unpaidDelivery(1, 10000);
    const std::string trannum = std::to_string(pcu.trannum(1));
    killAt("@!WPWRK;TYP=1;TRK=1;");
    orderKilled(orderBody({{"ExtendedId", "\"" + trannum + "\""}}));
    EXPECT_EQ(pcu.lockType(1), 1) << "locked for our workplace, and nobody knows it";

    startService();
    ASSERT_TRUE(pcu.waitFor([&] { return pcu.lockType(1) == 0; }, 10000)) << fw->log();
    EXPECT_EQ(pcu.receivedCommands("WPWRK").back(), "@!WPWRK;TYP=0;TRK=1;");
    // The till takes the payment, and nobody else does.
    pcudata::pcuControl till("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
    till.set_wplace(1);
    pcudata::cntlMsgResult res;
    int err = 0;
    EXPECT_EQ(till.print_virt(1, "", res, err), 1) << res.txt;
    EXPECT_EQ(pcu.status(1), 3);
    EXPECT_EQ(delivered("/completed", "A-1"), 0u);
    EXPECT_EQ(pcu.receivedCommands("PRNQ").size(), 1u);
}

// Killed with the settlement's lock taken but its answer lost, or with its intent written and the
// lock never come to the controller (the connection cut first): either way the order taken over
// locks, prints and completes, once.
TEST_F(HoldKill, SettlementCompletesOnceAfterTheRestart)
{
    for (const bool carriedOut : {true, false}) {
        SCOPED_TRACE(carriedOut ? "lock carried out" : "lock never reached the controller");
        settlementKilled(carriedOut);
        if (HasFatalFailure()) return;
    }
}

void HoldKill::settlementKilled(bool carriedOut)
{
    const std::string id = carriedOut ? "\"S-1\"" : "\"S-2\"";
    const std::string orderId = carriedOut ? "S-1" : "S-2";
    killed = false;
    const size_t receipts = pcu.receivedCommands("PRNQ").size();
    ASSERT_EQ(order(orderBody({{"id", id}})).status, 200);
    ASSERT_EQ(fueling(orderBody({{"id", id}})).status, 200);
    ASSERT_TRUE(pcu.waitForStatus(1, 6, 10000));
    if (!carriedOut) pcu.closeOnNext("WPWRK");
    killAt("@!WPWRK;TYP=1;TRK=1;");
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 9, 10000));
    pcu.hangNozzle(1);
    reapKilled();
    EXPECT_EQ(pcu.lockType(1), carriedOut ? 1 : 0);

    startService();
    ASSERT_TRUE(stationRig::waitFor([&] { return delivered("/completed", orderId) == 1; }, 20000))
        << fw->log();
    ASSERT_TRUE(pcu.waitForStatus(1, 3, 10000));
    EXPECT_EQ(pcu.receivedCommands("PRNQ").size(), receipts + 1);
    EXPECT_EQ(pcu.lockType(1), 0);
    EXPECT_EQ(pcu.needPayFlag(1), 0);
    std::this_thread::sleep_for(std::chrono::seconds(2));  // a second notice would come within it
    EXPECT_EQ(delivered("/completed", orderId) + delivered("/canceled", orderId), 1u);
}

}  // namespace
