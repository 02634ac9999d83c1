// Orders that a process ended during are taken over by the next service cycle. The process that
// ended is played by the test: it leaves the pump (reserved, started, delivered, given back) and
// the order's row in the state file as a killed fuelweb leaves them, then the cycle's recovery
// runs. Each order taken over ends with exactly one final notice and never a second start.
#include <gtest/gtest.h>

#include <Poco/Message.h>

#include "fuelingStation.h"
#include "orderRecovery.h"

using webtest::order;
namespace state = azs_apps::state;

namespace {

constexpr int64_t SECOND_US = 1000000;

class Recovery : public webtest::StateFileStation {
protected:
    std::unique_ptr<azs_apps::orderRecovery> recovery;

    void TearDown() override
    {
        recovery.reset();
        StateFileStation::TearDown();
    }

    // The row that /fueling wrote for the order before its process ended.
    int64_t row(const order& o)
    {
        state::servedOrder r;
        r.orderId = o.id;
        r.trk = o.trk;
        r.apikey = o.apikey();
        r.clientKey = o.client;
        r.extendedId = o.extendedId;
        r.appId = 1;
        r.prod = o.prod;
        r.price = o.price;
        r.volume = o.volume;
        r.summa = o.summa;
        r.pmt = 8880;
        r.trannum = pcu.trannum(o.trk);
        return durable->served()->begin(r, clock.now());
    }
    // The pump started for the order by the process that ended.
    void started(const order& o)
    {
        placeOrder(o);
        pcudata::cntlMsgResult res;
        int err = 0;
        ASSERT_EQ(
            session().start_order_trk(o.trk, o.id, res, err, o.prod, 8880, o.volume, o.summa, o.price, 2), 1);
        ASSERT_TRUE(waitStatus(o.trk, 6));
    }
    void recover()
    {
        recovery = std::make_unique<azs_apps::orderRecovery>(svc->settings(), durable->served());
    }

    pcudata::pcuControl& session()
    {
        if (!till) {
            till = std::make_unique<pcudata::pcuControl>("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
            till->set_wplace(20);
            till->set_wplace_typ(4);
        }
        return *till;
    }
    std::string stageOf(int64_t id) const
    {
        std::string error;
        auto db =
            state::stateDb::open(stateFiles.file(), state::stateDb::readOnly, state::stateDb::normal, error);
        state::sqlStatement q(*db, "SELECT stage FROM fuelings WHERE id = ?");
        return q.bind(1, id).next() ? q.text(0) : "";
    }
    bool settled(int trk)
    {
        return waitStatus(trk, 3) &&
               pcu.waitFor([&] { return pcu.needPayFlag(trk) == 0 && pcu.lockType(trk) == 0; }, WAIT_MS);
    }
    bool tagCleared(int trk)
    {
        return waitRecord(trk, [](const pcudata::trkState_t& r) {
            return pcudata::peek(r.tagged) == 0 && pcudata::peek(r.orderId[0]) == 0;
        });
    }
    bool logged(int prio, const std::string& text) const { return logs.has("fuelweb/fueling", prio, text); }
    // A notice that a second one would follow within the retries' first seconds.
    std::vector<sim::platformRequest> onlyFinals(const std::string& orderId)
    {
        finals(orderId);
        clock.sleepUs(20 * SECOND_US);
        return finals(orderId);
    }

private:
    std::unique_ptr<pcudata::pcuControl> till;
};

// Killed while the pump waited for the nozzle: the order is watched again, a /fueling repeated by
// the platform starts nothing, and the delivery is completed once.
TEST_F(Recovery, StartedPumpIsWatchedAgainAndCompletedOnce)
{
    begin();
    order o;
    started(o);
    const int64_t id = row(o);
    recover();
    EXPECT_EQ(recovery->taken(), 1u);
    EXPECT_TRUE(pcu.waitFor(
        [&] {
            return logged(Poco::Message::PRIO_WARNING,
                          "Восстановлено наблюдение за заказом 'A-1' на ТРК 1 "
                          "после перезапуска приложения (статус 6 : " +
                              std::string(pcudata::trkStatusText(6)) + ")");
        },
        WAIT_MS));

    webtest::httpReply again = fueling(o);
    EXPECT_EQ(again.status, 200);
    EXPECT_NE(again.body.find("Команда на пуск ТРК принята"), std::string::npos) << again.body;
    EXPECT_TRUE(logged(Poco::Message::PRIO_WARNING,
                       "Заказ 'A-1' на ТРК 1 уже обслуживается, повторный запрос на пуск не выполняется"));

    fillUp(o);
    std::vector<sim::platformRequest> f = onlyFinals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_EQ(field(f[0], "litre"), "10.00");
    EXPECT_EQ(pcu.receivedCommands("PSET").size(), 1u) << "started again";
    EXPECT_FALSE(notices("/volume", o.id).empty());
    EXPECT_TRUE(settled(1));
    EXPECT_TRUE(tagCleared(1));
    EXPECT_EQ(stageOf(id), "ended");
    durable->flushJournal();
    auto kinds = webtest::journalKinds(stateFiles.file(), o.id);
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.front(), "resumed:6:статус 6 : " + std::string(pcudata::trkStatusText(6)));
}

// The states a killed process may leave an order in, each taken over to its one final notice.
TEST_F(Recovery, EachStateLeftBehindEndsWithOneFinalNotice)
{
    struct leftBehind {
        const char* what;
        std::function<int64_t(const order&)> leave;
        const char* path;
        const char* text;  // litre of the completion, or reason of the cancellation
        size_t receipts;   // PRNQ sent by the take-over
        size_t starts;     // PSET: the test's own, playing the process that ended
        int trk = 1;
        bool settles = true;  // the pump is left idle and paid
    };
    const leftBehind cases[] = {
        // Delivered and hung up while nobody watched: settled and completed.
        {"delivered",
         [this](const order& o) {
             started(o);
             fillUp(o);
             EXPECT_TRUE(waitStatus(o.trk, 11));
             return row(o);
         },
         "/completed", "10.00", 1, 1},
        // The start never went out: the pump is not started, but timed out and given back.
        {"reserved, never started",
         [this](const order& o) {
             placeOrder(o);
             return row(o);
         },
         "/canceled", "Отмена заказа по таймауту пуска ТРК", 0, 0},
        // The completion was decided and the pump settled before the end: it goes out as decided.
        {"completion decided, pump settled",
         [this](const order& o) {
             placeOrder(o);
             pcudata::cntlMsgResult res;
             int err = 0;
             EXPECT_EQ(session().release_trk(o.trk, o.id, res, err), 1);
             EXPECT_TRUE(waitStatus(o.trk, 3));
             int64_t id = row(o);
             durable->served()->decide(id, state::finalNotice::complete("client,srv,azs", o.id, "777",
                                                                        "05.03.2024 14:07:09", 7.25));
             return id;
         },
         "/completed", "7.25", 0, 0},
        // The cancellation was decided: the pump is given back, the reason kep
        {"cancellation decided",
         [this](const order& o) {
             placeOrder(o);
             int64_t id = row(o);
             durable->served()->decide(id,
                                       state::finalNotice::cancel(o.apikey(), o.id, "Ошибка пуска ТРК (x)"));
             return id;
         },
         "/canceled", "Ошибка пуска ТРК (x)", 0, 0},
        // The completion was decided and settled; the pump now waits for the payment of a delivery
        // a till started: that one is not ours to settle.
        {"completion decided, another delivery unpaid",
         [this](const order& o) {
             placeOrder(o);
             pcudata::cntlMsgResult res;
             int err = 0;
             EXPECT_EQ(session().release_trk(o.trk, o.id, res, err), 1);
             EXPECT_TRUE(waitStatus(o.trk, 3));
             EXPECT_EQ(pcu.startLocalDelivery(o.trk, o.prod, 500), 1);
             EXPECT_TRUE(waitStatus(o.trk, 6));
             pcu.liftNozzle(o.trk);
             EXPECT_TRUE(waitStatus(o.trk, 9));
             pcu.hangNozzle(o.trk);
             EXPECT_TRUE(waitStatus(o.trk, 11));
             int64_t id = row(o);
             durable->served()->decide(
                 id, state::finalNotice::complete("client,srv,azs", o.id, "777", "05.03.2024 14:07:09", 3.5));
             return id;
         },
         "/completed", "3.50", 0, 0, 2, false},
    };
    begin(5);
    int n = 0;
    for (const leftBehind& c : cases) {
        SCOPED_TRACE(c.what);
        order o;
        o.id = "L-" + std::to_string(++n);
        o.trk = c.trk;
        const size_t starts = pcu.receivedCommands("PSET").size();
        const int64_t id = c.leave(o);
        const size_t receipts = pcu.receivedCommands("PRNQ").size();
        recover();
        std::vector<sim::platformRequest> f = onlyFinals(o.id);
        recovery.reset();
        ASSERT_EQ(f.size(), 1u);
        EXPECT_EQ(f[0].path, c.path);
        EXPECT_EQ(field(f[0], f[0].path == "/completed" ? "litre" : "reason"), c.text);
        EXPECT_EQ(pcu.receivedCommands("PRNQ").size() - receipts, c.receipts);
        EXPECT_EQ(pcu.receivedCommands("PSET").size() - starts, c.starts);
        if (c.settles)
            EXPECT_TRUE(settled(o.trk));
        else
            EXPECT_EQ(pcu.status(o.trk), 11);
        EXPECT_TRUE(tagCleared(o.trk));
        EXPECT_EQ(stageOf(id), "ended");
    }
    // The completion decided went out with its own figures.
    auto decided = notices("/completed", "L-3");
    ASSERT_EQ(decided.size(), 1u);
    EXPECT_EQ(field(decided[0], "extendedOrderId"), "777");
    EXPECT_EQ(field(decided[0], "extendedDate"), "05.03.2024 14:07:09");
}

// A pump that does not carry the order any more (the pump table was made anew) can't be
// followed: nothing is sent, the operator is told, and the row is not looked at again.
TEST_F(Recovery, OrderWithoutItsTagIsLeftToTheOperator)
{
    begin();
    order o;
    const int64_t id = row(o);
    recover();
    EXPECT_EQ(recovery->taken(), 0u);
    EXPECT_TRUE(logged(Poco::Message::PRIO_ERROR,
                       "Наблюдение не восстановлено: заказ 'A-1' на ТРК 1 не завершен до перезапуска "
                       "приложения, но ТРК без заказа. Требуется проверка оператором (транзакция 0)"));
    EXPECT_EQ(stageOf(id), "unresolved");
    clock.sleepUs(10 * SECOND_US);
    EXPECT_TRUE(platform.requestsTo("/completed").empty());
    EXPECT_TRUE(platform.requestsTo("/canceled").empty());
}

// Ended between storing the final notice and clearing the tag: the order is over, its notice goes
// out once through the background sender, and the tag is cleared.
TEST_F(Recovery, OrderWhoseNoticeIsStoredHasEnded)
{
    begin();
    order o;
    placeOrder(o);
    const int64_t id = row(o);
    {
        std::string error;
        auto db =
            state::stateDb::open(stateFiles.file(), state::stateDb::update, state::stateDb::full, error);
        state::outbox gone(std::move(db), "1:1");  // the process that ended
        ASSERT_NE(gone.store(state::finalNotice::cancel(o.apikey(), o.id, "Нет связи с ТРК"), clock.now(),
                             clock.now() + 86400),
                  0);
    }
    recover();
    EXPECT_EQ(recovery->taken(), 0u);
    EXPECT_EQ(stageOf(id), "ended");
    EXPECT_TRUE(tagCleared(1));
    std::vector<sim::platformRequest> f = onlyFinals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(field(f[0], "reason"), "Нет связи с ТРК");
}

// Reserved by /order, /fueling never came: not started by the restart, left for the platform's
// /fueling, which then serves it as ever (its row ends with the order).
TEST_F(Recovery, ReservedOnlyOrderIsLeftForTheFueling)
{
    begin();
    order o;
    placeOrder(o);
    recover();
    EXPECT_EQ(recovery->taken(), 0u);
    EXPECT_TRUE(logged(Poco::Message::PRIO_INFORMATION,
                       "Заказ 'A-1' на ТРК 1 принят до перезапуска приложения, запрос на пуск не поступал: "
                       "ТРК ожидает запроса /fueling"));
    clock.sleepUs(10 * SECOND_US);
    EXPECT_EQ(record(1).status, 10);
    EXPECT_TRUE(pcu.receivedCommands("PSET").empty());

    ASSERT_EQ(fueling(o).status, 200);
    fillUp(o);
    ASSERT_EQ(onlyFinals(o.id).size(), 1u);
    EXPECT_TRUE(durable->served()->unfinished().empty());
}

// A new cycle after a SIGHUP finds the orders that the old cycle's requests still serve: they are
// left to them.
TEST_F(Recovery, OrderServedByThisProcessIsLeftToItsRequest)
{
    begin();
    order o;
    placeOrder(o);
    ASSERT_EQ(fueling(o).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    ASSERT_EQ(durable->served()->unfinished().size(), 1u);
    recover();
    EXPECT_EQ(recovery->taken(), 0u);
    fillUp(o);
    EXPECT_EQ(onlyFinals(o.id).size(), 1u);
    EXPECT_TRUE(durable->served()->unfinished().empty());
}

}  // namespace
