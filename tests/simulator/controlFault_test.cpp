// Faults of the control port and of the pumps, as a client of the simulator sees them.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "simConsole.h"
#include "simTestSupport.h"

using namespace simtest;

namespace {

class ControlFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pcu.start(), 0);
        ctl = std::make_unique<lineClient>(pcu.ctlPort());
        registerWorkplace(*ctl);
    }

    reply cmd(const std::string& line) { return readReply(ctl->command(line)); }
    reply start(int pump = 1, int volumeMl = 10000)
    {
        return cmd("@!PSET;NUM=" + std::to_string(pump) +
                   ";PRD=92;PMT=8880;TYP=2;VOL=" + std::to_string(volumeMl) + ";PRS=5250;MNY=0;");
    }

    sim::pcuSimulator pcu{fastStation()};
    std::unique_ptr<lineClient> ctl;
};

TEST_F(ControlFault, RefuseNextAppliesOnceToTheNamedCommand)
{
    pcu.refuseNext("PSET", 5, "ERRPCU", "Отказ пуска");
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=0;").res, 1);  // another command is not affected
    reply r = start();
    EXPECT_EQ(r.res, 5);
    EXPECT_EQ(r.el["TCOD"], "ERRPCU");
    EXPECT_EQ(r.el["TXT"], "Отказ пуска");
    EXPECT_EQ(pcu.status(1), 3);
    EXPECT_EQ(start().res, 1);
}

TEST_F(ControlFault, ReplyOverrideWithResOneStillCarriesTheCommandOut)
{
    pcu.refuseNext("PSET", 1, "UNKNOWN");
    reply r = start();
    EXPECT_EQ(r.res, 1);
    EXPECT_EQ(r.el["TCOD"], "UNKNOWN");
    EXPECT_NE(pcu.status(1), 3);
}

TEST_F(ControlFault, IntermediateLinesPrecedeTheFinalReply)
{
    pcu.intermediateNext("STOP", 2, 3);
    std::vector<std::string> lines;
    ASSERT_TRUE(ctl->send("@!STOP;NUM=1;\n"));
    lines = ctl->readLines(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(readReply(lines[0]).res, 3);
    EXPECT_EQ(readReply(lines[1]).res, 3);
    EXPECT_EQ(readReply(lines[2]).res, 1);
    EXPECT_EQ(readReply(lines[2]).cmd, "STOP");
}

TEST_F(ControlFault, DelayedAndDroppedReplies)
{
    pcu.delayNext("PWORK", 150);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=0;").res, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(140));

    pcu.dropNext("PWORK");
    EXPECT_EQ(ctl->command("@!PWORK;NUM=1;TYP=1;PRD=92;PMT=8880;", 100), "");
    EXPECT_EQ(pcu.status(1), 10);  // carried out all the same
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=2;").res, 1);
}

TEST_F(ControlFault, ConnectionsCanBeClosed)
{
    pcu.closeOnNext("PSET");
    EXPECT_EQ(ctl->command("@!PSET;NUM=1;PRD=92;PMT=8880;TYP=2;VOL=1000;PRS=5250;MNY=0;"), "");
    EXPECT_TRUE(ctl->eof);
    EXPECT_EQ(pcu.status(1), 3);

    lineClient other(pcu.ctlPort());
    registerWorkplace(other);
    pcu.closeControlConnections();
    std::string line;
    EXPECT_FALSE(other.readLine(line, 500));
    EXPECT_TRUE(other.eof);
}

TEST_F(ControlFault, RawAndOverlongLinesReachTheClient)
{
    pcu.rawReplyNext("PWORK", "@0000PWORK;RES=abc;\nsecond");
    ASSERT_TRUE(ctl->send("@!PWORK;NUM=1;TYP=0;\n"));
    EXPECT_EQ(ctl->readLines(2), (std::vector<std::string>{"@0000PWORK;RES=abc;", "second"}));
    pcu.sendRawControlLine(std::string(100000, 'x'));
    std::string line;
    ASSERT_TRUE(ctl->readLine(line));
    EXPECT_EQ(line.size(), 100000u);
}

TEST_F(ControlFault, ConsoleCommandsQueueTheSameFaults)
{
    EXPECT_EQ(sim::runConsoleCommand(pcu, "refuse PSET 5 ERRPCU Отказ пуска ТРК"), "ok");
    reply r = start();
    EXPECT_EQ(r.res, 5);
    EXPECT_EQ(r.el["TXT"], "Отказ пуска ТРК");
    EXPECT_EQ(sim::runConsoleCommand(pcu, "status 2 13"), "ok");
    EXPECT_EQ(pcu.status(2), 13);
    EXPECT_NE(sim::runConsoleCommand(pcu, "status two"), "ok");
}

TEST_F(ControlFault, PumpFaultsBendTheDelivery)
{
    pcu.setOverfill(1, 1500);
    pcu.setZeroVolume(2, true);
    ASSERT_EQ(start(1, 10000).res, 1);
    ASSERT_EQ(start(2, 10000).res, 1);
    pcu.liftNozzle(1);
    pcu.liftNozzle(2);
    ASSERT_TRUE(pcu.waitForStatus(1, 9, 1000));
    EXPECT_EQ(pcu.volume(1), 11500);
    ASSERT_TRUE(pcu.waitForStatus(2, 7, 1000));
    pcu.hangNozzle(2);
    ASSERT_TRUE(pcu.waitForStatus(2, 11, 1000));
    EXPECT_EQ(pcu.volume(2), 0);
}

TEST_F(ControlFault, ResetMidDeliveryAndShortFlash)
{
    pcu.resetAt(1, 3000, 2);
    ASSERT_EQ(start(1, 10000).res, 1);
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 2, 1000));
    EXPECT_EQ(pcu.volume(1), 3000);

    ASSERT_EQ(start(3, 1000000).res, 1);
    pcu.liftNozzle(3);
    ASSERT_TRUE(pcu.waitForStatus(3, 7, 1000));
    pcu.flashStatus(3, 11, 50);
    EXPECT_EQ(pcu.status(3), 11);
    ASSERT_TRUE(pcu.waitForStatus(3, 7, 1000));
}

TEST_F(ControlFault, NeverLiftingDriverKeepsThePumpWaiting)
{
    pcu.setNeverLift(1, true);
    ASSERT_EQ(start().res, 1);
    ASSERT_TRUE(pcu.waitForStatus(1, 6, 1000));
    pcu.liftNozzle(1);
    EXPECT_FALSE(pcu.waitForStatus(1, 7, 50));
}

}  // namespace
