// The monitoring port: the greeting, change lines, repeats, several clients, faults.
#include <gtest/gtest.h>

#include "monitorLines.h"
#include "simTestSupport.h"

using namespace simtest;

namespace {

// Reads lines until one starts with `prefix`; "" when none comes in time.
std::string lineStarting(lineClient& c, const std::string& prefix, int timeoutMs = 1000)
{
    std::string line;
    while (c.readLine(line, timeoutMs))
        if (line.compare(0, prefix.size(), prefix) == 0) return line;
    return "";
}

TEST(MonitorPort, NewClientGetsDriverMasksAndOneLinePerPump)
{
    sim::stationConfig cfg = fastStation();
    cfg.driverVersion = 3;
    cfg.pumps[0].autoStart = 1;
    cfg.pumps[2].autoStart = 1;
    cfg.pumps[1].autoCafe = 1;
    sim::pcuSimulator pcu(cfg);
    ASSERT_EQ(pcu.start(), 0);
    lineClient mon(pcu.monPort());
    std::vector<std::string> lines = mon.readLines(8);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "D1,PCUSIM,1.0,0,0,0,0,3");
    EXPECT_EQ(lines[1], "E0,5");
    EXPECT_EQ(lines[2], "E2,0");
    EXPECT_EQ(lines[3], "Y0,0,0,2");
    EXPECT_EQ(lines[4], "T1,0,0,0;S3,1,0,0,0,0;P0,0,0,0,0,0;I0;A0,0;N92{АИ-92};W0{}");
    EXPECT_EQ(lines[7].substr(0, 6), "T4,0,0");
}

TEST(MonitorPort, MaskOfPump32IsNegative)
{
    EXPECT_EQ(sim::maskLine('Y', 0, 0x80000000u), "Y0,0,0,-2147483648");
    EXPECT_EQ(sim::maskLine('E', 2, 0x80000001u), "E2,-2147483647");
}

TEST(MonitorPort, EveryClientSeesChangesAndRepeats)
{
    sim::stationConfig cfg = fastStation();
    cfg.repeatMs = 30;
    sim::pcuSimulator pcu(cfg);
    ASSERT_EQ(pcu.start(), 0);
    lineClient a(pcu.monPort());
    lineClient b(pcu.monPort());
    ASSERT_EQ(a.readLines(8).size(), 8u);
    ASSERT_EQ(b.readLines(8).size(), 8u);
    ASSERT_TRUE(pcu.waitFor([&] { return pcu.monitorClients() == 2; }, 1000));

    pcu.setPumpStatus(2, 13);
    EXPECT_NE(lineStarting(a, "T2,0,0,0;S13,"), "");
    EXPECT_NE(lineStarting(b, "T2,0,0,0;S13,"), "");
    // The periodic repeat brings the D line and every pump again.
    EXPECT_NE(lineStarting(a, "D1,"), "");
    EXPECT_NE(lineStarting(a, "T4,"), "");
}

TEST(MonitorPort, DeliveryProgressIsPushed)
{
    sim::pcuSimulator pcu(fastStation());
    ASSERT_EQ(pcu.start(), 0);
    lineClient mon(pcu.monPort());
    ASSERT_EQ(mon.readLines(8).size(), 8u);
    lineClient ctl(pcu.ctlPort());
    registerWorkplace(ctl);
    ASSERT_EQ(readReply(ctl.command("@!PSET;NUM=3;PRD=95;PMT=8880;TYP=2;VOL=2000;PRS=5690;MNY=0;")).res, 1);
    pcu.liftNozzle(3);
    std::string ended = lineStarting(mon, "T3,0,0,0;S9,");
    EXPECT_NE(ended.find(";A2000,11380;N95{АИ-95}"), std::string::npos) << ended;
    EXPECT_NE(ended.find(";P2000,0,5690,8880,0,2;"), std::string::npos) << ended;
}

TEST(MonitorPort, ClientsCanBeDroppedAndSentGarbage)
{
    sim::pcuSimulator pcu(fastStation());
    ASSERT_EQ(pcu.start(), 0);
    lineClient mon(pcu.monPort());
    ASSERT_EQ(mon.readLines(8).size(), 8u);
    pcu.sendRawMonitorLine("#\x01 not a line");
    EXPECT_EQ(lineStarting(mon, "#"), "#\x01 not a line");
    pcu.closeMonitorConnections();
    std::string line;
    EXPECT_FALSE(mon.readLine(line, 500));
    EXPECT_TRUE(mon.eof);
}

TEST(MonitorPort, RestartKeepsThePumps)
{
    sim::pcuSimulator pcu(fastStation());
    ASSERT_EQ(pcu.start(), 0);
    pcu.setPumpStatus(4, 16);
    int port = pcu.monPort();
    pcu.stop();
    ASSERT_EQ(pcu.start(port, 0), 0);
    lineClient mon(pcu.monPort());
    EXPECT_NE(lineStarting(mon, "T4,0,0,0;S16,"), "");
}

}  // namespace
