// The simulated pump's state machine driven through the real control port.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "simTestSupport.h"

using namespace simtest;

namespace {

class PumpFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pcu.start(), 0);
        ctl = std::make_unique<lineClient>(pcu.ctlPort());
        ASSERT_TRUE(ctl->connected());
        registerWorkplace(*ctl);
    }

    reply cmd(const std::string& line) { return readReply(ctl->command(line)); }

    // Reserves pump 1 and hands it 10 l of product 92 at 52.50.
    int reserveAndStart()
    {
        reply r = cmd("@!PWORK;NUM=1;TYP=1;PRD=92;PMT=8880;");
        EXPECT_EQ(r.res, 1);
        EXPECT_EQ(cmd("@!PSET;NUM=1;PRD=92;PMT=8880;TYP=2;VOL=10000;PRS=5250;MNY=52500;").res, 1);
        return std::atoi(r.el["VAL"].c_str());
    }

    sim::pcuSimulator pcu{fastStation()};
    std::unique_ptr<lineClient> ctl;
};

bool inOrder(const std::vector<int>& seen, const std::vector<int>& wanted)
{
    auto it = seen.begin();
    for (int s : wanted) {
        it = std::find(it, seen.end(), s);
        if (it == seen.end()) return false;
    }
    return true;
}

TEST_F(PumpFlow, OrderRunsFromReservationToSettlement)
{
    reply price = cmd("@!GETPRS;PRD=92;PMT=8880;");
    EXPECT_EQ(price.el["PRS"], "5250");
    EXPECT_EQ(price.el["PRD"], "92");

    int val = reserveAndStart();
    EXPECT_GT(val, 0);
    EXPECT_EQ(pcu.trannum(1), val);
    ASSERT_TRUE(pcu.waitForStatus(1, 6, 1000));

    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitFor([&] { return pcu.status(1) == 7 && pcu.volume(1) > 0; }, 1000));
    ASSERT_TRUE(pcu.waitForStatus(1, 9, 1000));
    EXPECT_EQ(pcu.volume(1), 10000);
    EXPECT_EQ(pcu.amount(1), 52500);

    pcu.hangNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 11, 1000));
    EXPECT_EQ(pcu.needPayFlag(1), 1);
    EXPECT_EQ(pcu.payWplace(1), 20);

    EXPECT_EQ(cmd("@!WPWRK;TYP=1;TRK=1;").res, 1);
    EXPECT_EQ(pcu.lockWplace(1), 20);
    EXPECT_EQ(pcu.lockType(1), 1);
    EXPECT_EQ(cmd("@!CHPMT;NUM=1;PMT=8880;").res, 1);
    EXPECT_EQ(cmd("@!PRNQ;NUM=1;TYP=5;").res, 1);
    EXPECT_EQ(pcu.status(1), 3);
    EXPECT_EQ(pcu.needPayFlag(1), 0);
    EXPECT_EQ(pcu.lockType(1), 0);
    EXPECT_TRUE(inOrder(pcu.statusHistory(1), {3, 10, 4, 5, 6, 7, 9, 11, 3}));
}

TEST_F(PumpFlow, ReceivedLinesAreRecordedByteForByte)
{
    cmd("@!PWORK;NUM=2;TYP=0;");
    cmd("@!TSTBD;NUM=2");
    std::vector<std::string> lines = pcu.receivedControlLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "@!REGM;NUM=20;TYP=14;");
    EXPECT_EQ(lines[2], "@!TSTBD;NUM=2");
    EXPECT_EQ(pcu.receivedCommands("PWORK"), std::vector<std::string>{"@!PWORK;NUM=2;TYP=0;"});
}

TEST_F(PumpFlow, StopBeforeDeliveryFreesThePump)
{
    reserveAndStart();
    ASSERT_TRUE(pcu.waitForStatus(1, 6, 1000));
    EXPECT_EQ(cmd("@!STOP;NUM=1;").res, 1);
    EXPECT_EQ(pcu.status(1), 3);
}

TEST_F(PumpFlow, StopDuringDeliveryWaitsForTheNozzle)
{
    // 1000 l: long enough to be stopped half way.
    ASSERT_EQ(cmd("@!PSET;NUM=1;PRD=92;PMT=8880;TYP=2;VOL=1000000;PRS=5250;MNY=0;").res, 1);
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitFor([&] { return pcu.volume(1) >= 1000; }, 1000));
    EXPECT_EQ(cmd("@!STOP;NUM=1;").res, 1);
    EXPECT_EQ(pcu.status(1), 14);
    int64_t stoppedAt = pcu.volume(1);
    EXPECT_LT(stoppedAt, 1000000);
    pcu.hangNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 11, 1000));
    EXPECT_EQ(pcu.volume(1), stoppedAt);
}

TEST_F(PumpFlow, ReleaseAndBusyResetReturnAReservedPumpToIdle)
{
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=1;PRD=92;PMT=8880;").res, 1);
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=0;").res, 5);  // busy
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=2;").res, 1);
    EXPECT_EQ(pcu.status(1), 3);
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=1;PRD=92;PMT=8880;").res, 1);
    EXPECT_EQ(cmd("@!TSTBD;NUM=1").res, 1);
    EXPECT_EQ(pcu.status(1), 3);
}

TEST_F(PumpFlow, LocalDeliveryIsPostPaidAtTheTill)
{
    ASSERT_EQ(pcu.startLocalDelivery(2, 95, 3000), 1);
    pcu.liftNozzle(2);
    ASSERT_TRUE(pcu.waitForStatus(2, 9, 1000));
    pcu.hangNozzle(2);
    ASSERT_TRUE(pcu.waitForStatus(2, 11, 1000));
    sim::pumpState s = pcu.pump(2);
    EXPECT_EQ(s.volume, 3000);
    EXPECT_EQ(s.presetFlags & 2, 2);
    EXPECT_EQ(s.payWplace, 1);
    EXPECT_EQ(s.prodCode, 95);
}

TEST(PumpDriver, AutomaticDriverCompletesADeliveryAlone)
{
    sim::stationConfig cfg = fastStation();
    cfg.autoDriverTicks = 2;
    sim::pcuSimulator pcu(cfg);
    ASSERT_EQ(pcu.start(), 0);
    lineClient ctl(pcu.ctlPort());
    registerWorkplace(ctl);
    ASSERT_EQ(readReply(ctl.command("@!PSET;NUM=4;PRD=20;PMT=8880;TYP=2;VOL=0;PRS=6120;MNY=30600;")).res, 1);
    ASSERT_TRUE(pcu.waitForStatus(4, 11, 2000));
    EXPECT_EQ(pcu.volume(4), 5000);  // 306.00 at 61.20
}

}  // namespace
