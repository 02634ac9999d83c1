// /canceled: the platform stops the pump of an order; the /fueling request watching the order
// settles it.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include "fuelingStation.h"
#include "str.h"

using pcudata::peek;
using webtest::order;

namespace {

class Canceled : public webtest::FuelingStation {
protected:
    void SetUp() override { start(); }
    bool logged(const std::string& text)
    {
        return logs.has("fuelweb/canceled", Poco::Message::PRIO_ERROR, text);
    }
};

// Nothing runs on the pump: nothing is stopped.
TEST_F(Canceled, IdlePumpOrSettlementDueAnswers404WithoutCommands)
{
    order idle;
    idle.id = "I-1";
    tag(idle);
    ASSERT_EQ(pcu.startLocalDelivery(2, 92, 2000), 1);
    pcu.liftNozzle(2);
    ASSERT_TRUE(pcu.waitForStatus(2, 9, WAIT_MS));
    pcu.hangNozzle(2);
    order due;
    due.id = "D-1";
    due.trk = 2;
    tagFinished(due);
    pcu.clearReceivedControlLines();
    for (const order& o : {idle, due}) {
        webtest::httpReply r = cancel(o.apikey(), o.id);
        EXPECT_EQ(r.status, 404) << o.id;
        EXPECT_EQ(r.body, "");
        EXPECT_EQ(r.contentEncoding, "utf-8");
        EXPECT_EQ(r.contentType, "");
    }
    EXPECT_TRUE(pcu.receivedCommands("STOP").empty());
    EXPECT_TRUE(pcu.receivedCommands("TSTBD").empty());
}

TEST_F(Canceled, RefusedRequests)
{
    order o;
    tag(o);
    struct row {
        std::string apikey;
        std::string orderId;
        int status;
        std::string logged;
    } rows[] = {
        {o.apikey(), "nobody", 400, "Отсутствует ТРК с указаным номером заказа"},
        {o.apikey(), "", 400, "Не указан идентификатор заказа"},
        {"client,wrong,azs", o.id, 401, "Ошибка авторизации (ключ сервера)"},
        {",srv,azs", o.id, 401, "Ошибка авторизации (ключ приложения)"},
        {"client,srv", o.id, 401, "Ошибка авторизации (ключ АЗС)"},
        {"other,srv,azs", o.id, 400, "Идентификатор приложения не соответствует указанному в заказе"},
        {o.apikey(), std::string(120, 'x'), 400, "Номер заказа длиннее 119 байт (поле id)"},
        {std::string(120, 'k') + ",srv,azs", o.id, 400,
         "Ключ приложения длиннее 119 байт (первая часть apikey)"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.apikey + " " + r.orderId);
        webtest::httpReply reply = cancel(r.apikey, r.orderId);
        EXPECT_EQ(reply.status, r.status);
        EXPECT_EQ(reply.body, "");
        EXPECT_TRUE(logged(r.logged));
    }
    EXPECT_TRUE(pcu.receivedCommands("STOP").empty());
}

// Stopped while delivering: the fuel that flowed is completed by the watching request once the
// driver hangs up.
TEST_F(Canceled, StopWhileDeliveringAndTheWatchCompletes)
{
    order o;
    placeOrder(o);
    ASSERT_EQ(fueling(o).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    pcu.liftNozzle(1);
    ASSERT_TRUE(waitRecord(1, [](const pcudata::trkState_t& s) { return peek(s.volume) >= 2000; }));
    webtest::httpReply r = cancel(o.apikey(), o.id);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(pcu.receivedCommands("STOP").size(), 1u);
    ASSERT_TRUE(waitStatus(1, 14));
    const int64_t delivered = pcu.volume(1);
    pcu.hangNozzle(1);
    std::vector<sim::platformRequest> f = finals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_EQ(field(f[0], "litre"), pcudata::str::dbl2str(static_cast<double>(delivered) / 1000.0, 2));
}

// Stopped before the nozzle was lifted: the pump is idle again and the order is cancelled.
TEST_F(Canceled, StopBeforeTheNozzleCancelsTheOrder)
{
    order o;
    placeOrder(o);
    ASSERT_EQ(fueling(o).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    EXPECT_EQ(cancel(o.apikey(), o.id).status, 200);
    std::vector<sim::platformRequest> f = finals(o.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/canceled");
    EXPECT_EQ(field(f[0], "reason"), "Произошел сброс ТРК в исходное состояние");
}

}  // namespace
