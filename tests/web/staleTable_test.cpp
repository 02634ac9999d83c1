// A pump table the monitor no longer renews (the daemon stopped, or frozen) shows pumps as they
// were: every reader on the web side takes each pump as out of reach until it is fresh again.
#include <gtest/gtest.h>

#include <Poco/Message.h>

#include "fuelingStation.h"

using pcudata::peek;
using webtest::order;

namespace {

constexpr int64_t SECOND_US = 1000000;
const char* const NO_LINK_PING =
    "{\"Description\":\"Нет связи с контроллером управления ТРК\",\"statusId\":0}";

class StaleTable : public webtest::FuelingStation {
protected:
    webtest::httpReply ping(int trk)
    {
        return webtest::httpGet(svc->port(), std::string("/api/fuelweb/ping?apikey=") + APIKEY +
                                                 "&columnId=" + std::to_string(trk));
    }
    webtest::httpReply placeOrderOf(const order& o)
    {
        return webtest::httpPost(svc->port(), "/api/fuelweb/order?apikey=" + o.apikey(), "application/json",
                                 o.body());
    }
    size_t warnings(const std::string& part) const
    {
        size_t n = 0;
        for (const std::string& t : logs.texts("fuelweb", Poco::Message::PRIO_WARNING))
            if (t.find(part) != std::string::npos) ++n;
        return n;
    }
};

// The daemon stops (dataTime 0): /ping and /order take the pumps as out of reach, and a watch
// neither cancels nor times its order out; once the monitor runs again the order goes on, the
// time without it not counted towards the start timeout.
TEST_F(StaleTable, MonitorStoppedThenBack)
{
    start(5);
    order a;
    ASSERT_EQ(placeOrderOf(a).status, 200);
    ASSERT_EQ(fueling(a).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    follower.reset();  // as the daemon stops: dataTime 0
    ASSERT_EQ(peek(controller().dataTime), 0);

    webtest::httpReply p = ping(2);
    EXPECT_EQ(p.status, 404);
    EXPECT_EQ(p.body, NO_LINK_PING);
    order b;
    b.id = "B-1";
    b.trk = 2;
    webtest::httpReply refused = placeOrderOf(b);
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(refused.body, "{\"msg\":\"Нет связи с ТРК\",\"stat\":0}");
    clock.sleepUs(20 * SECOND_US);  // four start timeouts
    EXPECT_TRUE(notices("/canceled", a.id).empty()) << "cancelled for a table nobody renews";
    EXPECT_TRUE(pcu.receivedCommands("STOP").empty());
    EXPECT_EQ(warnings("Таблица состояния ТРК устарела (монитор ТРК остановлен)"), 1u);

    followController();
    ASSERT_TRUE(pcu.waitFor([&] { return peek(controller().dataTime) != 0; }, WAIT_MS));
    EXPECT_EQ(ping(2).status, 200);
    EXPECT_TRUE(waitStatus(1, 6));
    fillUp(a);
    std::vector<sim::platformRequest> f = finals(a.id);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].path, "/completed");
    EXPECT_EQ(field(f[0], "litre"), "10.00");
    EXPECT_EQ(warnings("Таблица состояния ТРК снова обновляется"), 1u);
}

// A frozen daemon leaves its last dataTime behind: the table turns stale 30 s after it, and fresh
// again as soon as it is renewed.
TEST_F(StaleTable, TableNotRenewedFor30Seconds)
{
    start();
    follower.reset();
    pcudata::poke(controller().dataTime, static_cast<int64_t>(clock.now()));
    EXPECT_EQ(ping(1).status, 200);
    clock.sleepUs(31 * SECOND_US);
    webtest::httpReply p = ping(1);
    EXPECT_EQ(p.status, 404);
    EXPECT_EQ(p.body, NO_LINK_PING);
    EXPECT_EQ(warnings("Таблица состояния ТРК устарела (не обновляется"), 1u);
    pcudata::poke(controller().dataTime, static_cast<int64_t>(clock.now()));
    EXPECT_EQ(ping(1).status, 200);
}

}  // namespace
