// fuelwebctl's commands on the pumps, on a station with its state file: the status of every pump,
// and the release of a hold no order needs, asked of the running service or, with --force, done by
// the command itself.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fuelingStation.h"
#include "fuelwebctl.h"
#include "holdKeeper.h"
#include "operatorRequests.h"

using pcudata::peek;
using webtest::order;
namespace state = azs_apps::state;

namespace {

struct ctlResult {
    int status;
    std::string out;
    std::string err;
};

class FuelwebctlPumps : public webtest::StateFileStation {
protected:
    std::unique_ptr<azs_apps::holdKeeper> keeper;

    void SetUp() override
    {
        begin();
        std::ofstream(configFile()) << "{\"fuelweb\":{\"tmp_path\":\"" << dir.path()
                                    << "\",\"ctl_port\":" << pcu.ctlPort() << ",\"state_path\":\""
                                    << stateFiles.file()
                                    << "\",\"upstream_key\":\"srv\",\"ctl_key\":\"azs\"}}";
    }
    void TearDown() override
    {
        keeper.reset();
        StateFileStation::TearDown();
    }
    std::string configFile() const { return dir.path() + "/fuelweb.json"; }
    ctlResult ctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"-c", configFile()});
        std::ostringstream out, err;
        int status = azs_apps::fuelwebctl(args, out, err);
        return {status, out.str(), err.str()};
    }
    webtest::httpReply placeOrderOf(const order& o)
    {
        return webtest::httpPost(svc->port(), "/api/fuelweb/order?apikey=" + o.apikey(), "application/json",
                                 o.body());
    }
    // Pump trk waits for the payment of a delivery made at the pump, locked by our workplace.
    void lockedForNobody(int trk)
    {
        deliveredAtThePump(trk);
        pcudata::pcuControl ours("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
        pcudata::cntlMsgResult res;
        int err = 0;
        ASSERT_EQ(ours.LockPayment(trk, "", res, err, 1), 1);
        ASSERT_TRUE(waitRecord(trk, [](const pcudata::trkState_t& r) { return peek(r.lockType) == 1; }));
    }
    static bool has(const std::string& text, const std::string& part)
    {
        return text.find(part) != std::string::npos;
    }
};

TEST_F(FuelwebctlPumps, StatusListsThePumpsTheirOrdersAndOurHolds)
{
    order a;
    ASSERT_EQ(placeOrderOf(a).status, 200);
    lockedForNobody(2);
    ctlResult r = ctl({"status"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "Таблица состояния ТРК: обновлена")) << r.out;
    EXPECT_TRUE(has(r.out, "ТРК  1  статус 10  ТРК занята/зарезервирована")) << r.out;
    EXPECT_TRUE(has(r.out, "заказ 'A-1' (")) << r.out;
    EXPECT_TRUE(has(r.out, "; резерв р.м. 20")) << r.out;
    EXPECT_TRUE(has(r.out, "ТРК  2  статус 11") && has(r.out, "заказ -; блокировка оплаты р.м. 20")) << r.out;
    EXPECT_TRUE(has(r.out, "Удержания ТРК рабочим местом: 1\n  ТРК 1: reservation для заказа 'A-1', held"))
        << r.out;
    EXPECT_TRUE(has(r.out, "Заказы на обслуживании fuelweb: 0")) << r.out;
}

TEST_F(FuelwebctlPumps, ReleaseIsAskedOfTheRunningService)
{
    keeper = std::make_unique<azs_apps::holdKeeper>(svc->settings(), durable->holds());
    lockedForNobody(2);
    ctlResult r = ctl({"release", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ТРК 2: блокировка оплаты снята\n");
    EXPECT_EQ(pcu.lockType(2), 0);
    // Nothing of ours to give back on an idle pump.
    r = ctl({"release", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "ТРК 3: ТРК не удерживается рабочим местом 20")) << r.err;
}

TEST_F(FuelwebctlPumps, WithoutTheServiceTheReleaseNeedsForce)
{
    lockedForNobody(2);
    ctlResult r = ctl({"release", "2", "--wait", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "fuelweb не ответил за 2 с")) << r.err;
    EXPECT_EQ(pcu.lockType(2), 1);
    {
        std::string error;
        auto db =
            state::stateDb::open(stateFiles.file(), state::stateDb::readOnly, state::stateDb::full, error);
        ASSERT_TRUE(db);
        EXPECT_TRUE(state::operatorRequests::asked(*db).empty()) << "withdrawn, not left for a later start";
    }
    r = ctl({"release", "2", "--force"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ТРК 2: блокировка оплаты снята\n");
    EXPECT_EQ(pcu.lockType(2), 0);
    EXPECT_TRUE(has(ctl({"order", "#ТРК-2"}).out, "удержание снято")) << "journaled";
}

TEST_F(FuelwebctlPumps, ForceLeavesAnOrderBeingServed)
{
    order a;
    ASSERT_EQ(placeOrderOf(a).status, 200);
    ASSERT_EQ(fueling(a).status, 200);
    ASSERT_TRUE(waitStatus(1, 6));
    ctlResult r = ctl({"release", "1", "--force"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "обслуживает заказ 'A-1'")) << r.err;
    EXPECT_EQ(pcu.status(1), 6);
    fillUp(a);
    EXPECT_EQ(finals(a.id).size(), 1u);
}

}  // namespace
