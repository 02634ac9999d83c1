// A complete order (/order, /fueling, delivery, payment lock, receipt, completion) with the
// controller connection cut at each step, before the command is carried out and after it (its
// answer lost). Each order ends with exactly one final notice, kept in the state file until the
// platform took it, and the pump left idle and settled.
#include <gtest/gtest.h>

#include <Poco/Message.h>

#include <iostream>

#include "fuelingStation.h"
#include "monitor/processRunner.h"

using webtest::order;

namespace {

class FaultMatrix : public webtest::StateFileStation {
protected:
    webtest::httpReply placeRealOrder(const order& o)
    {
        return webtest::httpPost(svc->port(), "/api/fuelweb/order?apikey=" + o.apikey(), "application/json",
                                 o.body());
    }

    // The connection is cut once the pump delivers.
    void cutWhileDelivering(int trk)
    {
        helpers.emplace_back([this, trk] {
            if (waitStatus(trk, 7)) pcu.closeControlConnections();
        });
    }
};

// The order's decisions as the operator reads them: from /order to the completion taken by the
// platform, in order, through the operator's command.
TEST_F(FaultMatrix, JournalOfACompleteOrderListsItsDecisionsInOrder)
{
    begin();
    order o;
    ASSERT_EQ(placeRealOrder(o).status, 200);
    ASSERT_EQ(fueling(o).status, 200);
    fillUp(o);
    ASSERT_EQ(finals(o.id).size(), 1u);
    ASSERT_TRUE(pcu.waitFor(
        [&] {
            return webtest::entriesOf(stateFiles.file(), o.id).size() == 1 &&
                   webtest::entriesOf(stateFiles.file(), o.id)[0].state == "delivered";
        },
        WAIT_MS));
    durable->flushJournal();

    std::vector<std::string> kinds;
    for (const azs_apps::state::journalRow& r : webtest::journalOf(stateFiles.file(), o.id)) {
        EXPECT_EQ(r.pump, 1) << r.kind;
        if (kinds.empty() || kinds.back() != r.kind) kinds.push_back(r.kind);  // volume counts in a row
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"admitted", "reserved", "fueling", "started", "volume",
                                               "completed", "notice_delivered"}));

    montest::processResult shown = montest::runProcess(
        {montest::binDir() + "/app-azs/src/fuelwebctl", "--state", stateFiles.file(), "order", o.id});
    EXPECT_EQ(shown.status, 0) << shown.err;
    const std::string expected[] = {
        "Заказ 'A-1'\n",
        "ТРК 1  принят  резервирование\n",
        "ТРК 1  ТРК зарезервирована [200]  транзакция " + std::to_string(pcu.trannum(1)),
        "ТРК 1  запрос на пуск принят [200]  Команда на пуск ТРК принята\n",
        "ТРК 1  ТРК запущена\n",
        "ТРК 1  налив  ",
        "ТРК 1  завершен  10.00 л, транзакция " + std::to_string(pcu.trannum(1)),
        "ТРК 1  уведомление доставлено [200]\n",
        "Уведомления платформе:\n",
        "заказ 'A-1' завершение: 10.00 л, транзакция ",
        "    доставлено "};
    size_t at = 0;
    for (const std::string& part : expected) {
        size_t found = shown.out.find(part, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << part << "\n" << shown.out;
        at = found + part.size();
    }
}

struct faultCase {
    const char* name;
    bool orderRefused;  // /order fails and the platform orders again
};

// Each step, with the connection cut before the command is carried out and after it (its answer
// lost).
const faultCase CASES[] = {
    {"ReservationCutBefore", true},   {"ReservationAnswerLost", true}, {"StartCutBefore", false},
    {"StartAnswerLost", false},       {"DuringDelivery", false},       {"PaymentLockCutBefore", false},
    {"PaymentLockAnswerLost", false}, {"ReceiptCutBefore", false},     {"ReceiptAnswerLost", false},
};

class ConnectionCut : public FaultMatrix, public ::testing::WithParamInterface<faultCase> {
protected:
    void arm(const std::string& name)
    {
        if (name == "ReservationCutBefore") pcu.closeOnNext("PWORK");
        if (name == "ReservationAnswerLost") cutAfter("PWORK");
        if (name == "StartCutBefore") pcu.closeOnNext("PSET");
        if (name == "StartAnswerLost") cutAfter("PSET");
        if (name == "DuringDelivery") cutWhileDelivering(1);
        if (name == "PaymentLockCutBefore") pcu.closeOnNext("WPWRK");
        if (name == "PaymentLockAnswerLost") cutAfter("WPWRK");
        if (name == "ReceiptCutBefore") pcu.closeOnNext("PRNQ");
        if (name == "ReceiptAnswerLost") cutAfter("PRNQ");
    }
    std::string handlerLog()
    {
        std::string out;
        for (const webtest::logLine& l : logs.lines())
            if (l.source.rfind("fuelweb", 0) == 0 && l.prio <= Poco::Message::PRIO_INFORMATION)
                out += l.source + ": " + l.text + "\n";
        return out;
    }
};

TEST_P(ConnectionCut, OrderEndsWithOneFinalNoticeAndThePumpSettled)
{
    const faultCase& c = GetParam();
    begin();
    order o;
    o.id = std::string("FM-") + c.name;
    ASSERT_TRUE(waitStatus(1, 3));
    arm(c.name);
    webtest::httpReply placed = placeRealOrder(o);
    if (c.orderRefused) {
        EXPECT_EQ(placed.status, 404) << placed.body;
        // The platform orders again once the first order was refused: the pump must be free.
        ASSERT_TRUE(waitStatus(1, 3)) << "the pump stays reserved for a refused order";
        placed = placeRealOrder(o);
    }
    ASSERT_EQ(placed.status, 200) << placed.body;
    ASSERT_EQ(fueling(o).status, 200);
    fillUp(o);
    std::vector<sim::platformRequest> f = finals(o.id);
    // A second notice would come within the retries' first seconds.
    clock.sleepUs(30 * 1000000);
    f = finals(o.id);
    std::cout << "fault case " << c.name << ": final notices " << f.size() << std::endl;
    ASSERT_EQ(f.size(), 1u) << handlerLog();
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_EQ(field(f[0], "litre"), "10.00");
    EXPECT_TRUE(waitStatus(1, 3)) << "the pump is not idle\n" << handlerLog();
    EXPECT_TRUE(pcu.waitFor([&] { return pcu.needPayFlag(1) == 0 && pcu.lockType(1) == 0; }, WAIT_MS))
        << "the delivery is not settled";
    auto kept = webtest::entriesOf(stateFiles.file(), o.id);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].state, "delivered");
}

INSTANTIATE_TEST_SUITE_P(EachStep, ConnectionCut, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<faultCase>& i) {
                             return std::string(i.param.name);
                         });

}  // namespace
