// The fuelweb program killed (SIGKILL) in the middle of an order and started again: the new
// process takes the order over and ends it with exactly one final notice, never starting a pump a
// second time; an order only reserved is left for the platform's /fueling. And a stop (SIGTERM)
// while a final notice is refused does not wait for its retries: the notice goes out once after
// the next start.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "fuelwebProcess.h"
#include "orderTestSupport.h"
#include "stateTestSupport.h"
#include "str.h"

namespace {

using namespace webtest;
using ordertest::orderBody;

// Fuel flows at 4 l/s: a delivery of 10 l outlasts a restart.
sim::stationConfig slowStation()
{
    sim::stationConfig cfg = benchStation();
    cfg.flowMlPerTick = 8;
    return cfg;
}

// An order of 4 l, delivered in a second.
const std::vector<std::pair<std::string, std::string>> SMALL = {{"volume", "4"}, {"summa", "210"}};

class RecoveryProcess : public FuelwebProcess {
protected:
    RecoveryProcess() : FuelwebProcess(slowStation()) {}

    std::vector<sim::platformRequest> finalsOf(const std::string& orderId) const
    {
        std::vector<sim::platformRequest> out;
        for (const char* path : {"/completed", "/canceled"})
            for (const sim::platformRequest& r : platform.requestsTo(path))
                if (sim::platformStub::formFields(r.body)["orderId"] == orderId) out.push_back(r);
        return out;
    }
    // One final notice, and none more a while later (a second would follow within seconds).
    std::vector<sim::platformRequest> onlyFinals(const std::string& orderId) const
    {
        stationRig::waitFor([&] { return !finalsOf(orderId).empty(); }, 15000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return finalsOf(orderId);
    }
    std::vector<std::string> startsOf(int trk) const
    {
        std::vector<std::string> out;
        for (const std::string& line : pcu.receivedCommands("PSET"))
            if (line.find("NUM=" + std::to_string(trk) + ";") != std::string::npos) out.push_back(line);
        return out;
    }
    bool settled(int trk) const
    {
        return pcu.waitFor(
            [&] { return pcu.status(trk) == 3 && pcu.needPayFlag(trk) == 0 && pcu.lockType(trk) == 0; },
            10000);
    }
    void stop()
    {
        fw->signal(SIGTERM);
        EXPECT_EQ(fw->waitExit(5000), 0) << fw->log();
    }
};

TEST_F(RecoveryProcess, KilledDuringADeliveryTheOrderIsCompletedOnceAfterTheRestart)
{
    writeConfig(stateFile());
    startService();
    ASSERT_EQ(order(orderBody()).status, 200);
    ASSERT_EQ(fueling(orderBody()).status, 200);
    ASSERT_TRUE(pcu.waitForStatus(1, 6, 10000));
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 7, 10000));
    fw->kill();

    startService();
    ASSERT_TRUE(fw->waitForLog("Восстановлено наблюдение за заказом 'A-1' на ТРК 1")) << fw->log();
    // The platform repeats its /fueling after the restart: the answer it had, nothing more.
    httpReply again = fueling(orderBody());
    EXPECT_EQ(again.status, 200);
    EXPECT_NE(again.body.find("Команда на пуск ТРК принята"), std::string::npos) << again.body;
    EXPECT_TRUE(fw->waitForLog("уже обслуживается, повторный запрос на пуск не выполняется"));
    pcu.hangNozzle(1);

    std::vector<sim::platformRequest> f = onlyFinals("A-1");
    ASSERT_EQ(f.size(), 1u) << fw->log();
    EXPECT_EQ(f[0].path, "/completed");
    const int64_t ml = pcu.volume(1);
    EXPECT_GT(ml, 0);
    EXPECT_EQ(sim::platformStub::formFields(f[0].body)["litre"], pcudata::str::dbl2str(ml / 1000.0, 2));
    EXPECT_EQ(startsOf(1).size(), 1u) << "the pump was started again";
    EXPECT_TRUE(settled(1));
    EXPECT_NE(ctl({"order", "A-1"}).out.find("наблюдение восстановлено"), std::string::npos);
    stop();
}

// Killed while the pump waits for the nozzle, with a second order only reserved: the first is
// watched again and completed once the driver fills up; the second is not started by the restart
// but by the platform's /fueling when it comes.
TEST_F(RecoveryProcess, KilledBeforeTheNozzleWasLiftedAndAReservedOrderIsLeftForItsFueling)
{
    writeConfig(stateFile());
    startService();
    const std::string first = orderBody(SMALL);
    const std::string second = orderBody({{"id", "\"B-2\""}, {"trk", "2"}, SMALL[0], SMALL[1]});
    ASSERT_EQ(order(first).status, 200);
    ASSERT_EQ(fueling(first).status, 200);
    ASSERT_EQ(order(second).status, 200);
    ASSERT_TRUE(pcu.waitForStatus(1, 6, 10000));
    ASSERT_TRUE(pcu.waitForStatus(2, 10, 10000));
    fw->kill();

    startService();
    ASSERT_TRUE(fw->waitForLog("Восстановлено наблюдение за заказом 'A-1' на ТРК 1")) << fw->log();
    EXPECT_TRUE(
        fw->waitForLog("Заказ 'B-2' на ТРК 2 принят до перезапуска приложения, запрос на пуск не "
                       "поступал: ТРК ожидает запроса /fueling"))
        << fw->log();
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 9, 10000));
    pcu.hangNozzle(1);
    std::vector<sim::platformRequest> f = onlyFinals("A-1");
    ASSERT_EQ(f.size(), 1u) << fw->log();
    EXPECT_EQ(sim::platformStub::formFields(f[0].body)["litre"], "4.00");
    EXPECT_TRUE(settled(1));
    EXPECT_EQ(pcu.status(2), 10);
    EXPECT_TRUE(startsOf(2).empty()) << "started by the restart";

    ASSERT_EQ(fueling(second).status, 200);
    ASSERT_TRUE(pcu.waitForStatus(2, 6, 10000));
    EXPECT_EQ(startsOf(2).size(), 1u);
    EXPECT_EQ(startsOf(1).size(), 1u);
    fw->kill();  // a stop would wait for the driver at pump 2
}

// The platform refuses the completion; SIGTERM comes while the wrapper retries. fuelweb ends in
// moments, leaving the notice in the state file, and the next start delivers it once.
TEST_F(RecoveryProcess, StopWhileACompletionIsRefusedIsQuickAndTheNoticeGoesOutOnceLater)
{
    writeConfig(stateFile());
    platform.setStatus("/completed", 500);
    startService();
    ASSERT_EQ(order(orderBody(SMALL)).status, 200);
    ASSERT_EQ(fueling(orderBody(SMALL)).status, 200);
    ASSERT_TRUE(pcu.waitForStatus(1, 6, 10000));
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 9, 10000));
    pcu.hangNozzle(1);
    ASSERT_TRUE(stationRig::waitFor([&] { return finalsOf("A-1").size() >= 2; }, 15000)) << fw->log();

    const auto stopAt = std::chrono::steady_clock::now();
    fw->signal(SIGTERM);
    EXPECT_EQ(fw->waitExit(10000), 0) << fw->log();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(5));
    EXPECT_TRUE(
        fw->waitForLog("Остановка приложения: уведомление по заказу 'A-1' сохранено и будет "
                       "отправлено при следующем запуске"));
    auto kept = entriesOf(stateFile(), "A-1");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].state, "pending");
    EXPECT_EQ(kept[0].claimedBy, "");
    const size_t refused = finalsOf("A-1").size();

    platform.setStatus("/completed", 200);
    startService();
    std::vector<sim::platformRequest> f = onlyFinals("A-1");
    ASSERT_EQ(f.size(), refused + 1) << fw->log();
    EXPECT_EQ(f.back().status, 200);
    EXPECT_EQ(entriesOf(stateFile(), "A-1")[0].state, "delivered");
    EXPECT_TRUE(settled(1));
    stop();
}

}  // namespace
