// Refusals of the control port, and the shape of every reply line.
#include <gtest/gtest.h>

#include <memory>

#include "simTestSupport.h"

using namespace simtest;

namespace {

class ControlRefusal : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(pcu.start(), 0);
        ctl = std::make_unique<lineClient>(pcu.ctlPort());
        ASSERT_TRUE(ctl->connected());
    }

    reply cmd(const std::string& line) { return readReply(ctl->command(line)); }

    sim::pcuSimulator pcu{fastStation()};
    std::unique_ptr<lineClient> ctl;
};

TEST_F(ControlRefusal, PumpCommandsNeedRegistrationOnEachConnection)
{
    reply r = cmd("@!PWORK;NUM=1;TYP=1;PRD=92;PMT=8880;");
    EXPECT_EQ(r.cmd, "PWORK");
    EXPECT_EQ(r.res, 4);
    EXPECT_EQ(r.el["TXT"], "Рабочее место не зарегистрировано");
    EXPECT_EQ(pcu.status(1), 3);

    registerWorkplace(*ctl);
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=0;").res, 1);
    lineClient second(pcu.ctlPort());
    EXPECT_EQ(readReply(second.command("@!PWORK;NUM=1;TYP=0;")).res, 4);
    // The station blocks need no workplace.
    EXPECT_EQ(readReply(second.command("@!APRS")).cmd, "APRS");
}

TEST_F(ControlRefusal, BadRequestsAreRefusedWithoutEffect)
{
    registerWorkplace(*ctl);
    EXPECT_EQ(cmd("@!PWORK;NUM=1;TYP=1;PRD=77;PMT=8880;").res, 18);  // product not on the pump
    EXPECT_EQ(cmd("@!GETPRS;PRD=92;PMT=12;").res, 18);               // unknown payment kind
    EXPECT_EQ(cmd("@!PWORK;NUM=9;TYP=0;").res, 6);                   // no such pump
    EXPECT_EQ(cmd("@!PSET;NUM=1;PRD=92;PMT=8880;TYP=2;VOL=10000.000;PRS=5250;MNY=52500;").res, 9);
    EXPECT_EQ(cmd("@!PSET;NUM=1;PRD=92;PMT=8880;TYP=2;VOL=010;PRS=5250;MNY=0;").res, 9);
    EXPECT_EQ(cmd("@!PRNQ;NUM=1;TYP=5;").res, 8);  // nothing to settle
    reply unknown = cmd("@!FLY;NUM=1;");
    EXPECT_EQ(unknown.res, 7);
    EXPECT_EQ(unknown.cmd, "FLY");
    EXPECT_EQ(cmd("garbage").res, 7);
    EXPECT_EQ(pcu.status(1), 3);
    EXPECT_EQ(pcu.trannum(1), 0);
}

TEST_F(ControlRefusal, PumpOutOfServiceRefusesWithErrpcu)
{
    registerWorkplace(*ctl);
    for (int s : {0, 1, 13, 16}) {
        pcu.setPumpStatus(2, s);
        reply r = cmd("@!PSET;NUM=2;PRD=92;PMT=8880;TYP=2;VOL=1000;PRS=5250;MNY=5250;");
        EXPECT_NE(r.res, 1) << s;
        EXPECT_EQ(r.el["TCOD"], "ERRPCU") << s;
        EXPECT_EQ(pcu.status(2), s);
    }
    pcu.setPumpStatus(2, 3);
    EXPECT_EQ(cmd("@!PWORK;NUM=2;TYP=0;").res, 1);
}

TEST_F(ControlRefusal, PaymentLockedByAnotherWorkplaceBlocksSettlement)
{
    registerWorkplace(*ctl, 20);
    lineClient till(pcu.ctlPort());
    registerWorkplace(till, 1);
    ASSERT_EQ(pcu.startLocalDelivery(1, 92, 1000), 1);
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 9, 1000));
    pcu.hangNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 11, 1000));

    EXPECT_EQ(readReply(till.command("@!WPWRK;TYP=1;TRK=1;")).res, 1);
    EXPECT_EQ(cmd("@!WPWRK;TYP=1;TRK=1;").res, 13);
    EXPECT_EQ(cmd("@!PRNQ;NUM=1;TYP=5;").res, 13);
    EXPECT_EQ(readReply(till.command("@!WPWRK;TYP=0;TRK=1;")).res, 1);
    EXPECT_EQ(cmd("@!WPWRK;TYP=1;TRK=1;").res, 1);
    EXPECT_EQ(cmd("@!PRNQ;NUM=1;TYP=5;").res, 1);
}

TEST_F(ControlRefusal, EveryReplyKeepsToTheReplyGrammar)
{
    for (const char* line :
         {"@!REGM;NUM=20;TYP=14;", "@!GETPRS;PRD=95;PMT=8880;", "@!PWORK;NUM=3;TYP=1;PRD=20;PMT=8880;",
          "@!STOP;NUM=3;", "@!WPWRK;TYP=0;TRK=3;", "@!PWORK;NUM=1;TYP=7;", "nonsense"}) {
        std::string text = ctl->command(line);
        reply r = readReply(text);
        EXPECT_TRUE(r.wellFormed) << text;
        EXPECT_EQ(std::to_string(text.size() % 10000), std::to_string(std::stoi(r.len))) << text;
        EXPECT_FALSE(r.el["TXT"].empty()) << text;
    }
}

}  // namespace
