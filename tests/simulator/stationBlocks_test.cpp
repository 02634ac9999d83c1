// The ACFG/APRS blocks and the station description they print.
#include <gtest/gtest.h>

#include <algorithm>

#include "simTestSupport.h"

using namespace simtest;

namespace {

class StationBlocks : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pcu.start(), 0); }

    // Lines of one block answer up to and including "{END}".
    std::vector<std::string> block(const std::string& cmd)
    {
        lineClient c(pcu.ctlPort());
        std::vector<std::string> out;
        std::string line;
        c.send(cmd + "\n");
        while (c.readLine(line, 1000)) {
            out.push_back(line);
            if (line == "{END}") break;
        }
        return out;
    }

    sim::pcuSimulator pcu{fastStation()};
};

TEST_F(StationBlocks, ConfigurationListsPumpsTanksProductsPayments)
{
    std::vector<std::string> b = block("@!ACFG");
    ASSERT_GE(b.size(), 2u);
    reply head = readReply(b[0]);
    EXPECT_TRUE(head.wellFormed);
    EXPECT_EQ(head.cmd, "ACFG");
    EXPECT_EQ(b[1], "{PUMP}");
    EXPECT_EQ(b[2], "NUM=1:TYP=2:MINAUS=0:S=1:TANK=1:PROD=0:S=2:TANK=2:PROD=1;");
    EXPECT_EQ(b.back(), "{END}");
    std::vector<std::string> want = {
        "{TANK}", "NUM=3:COD=20:VOL=25000;",
        "{PROD}", "NUM=1:NAME=АИ-92:COD=92:TYP=1:PRICE=5250:TAX=20:COLOR=65280;",
        "{PAYM}", "NUM=3:NAME=Мобильное приложение:COD=8880:TYP=3:SET=1:COLOR=0:FLG=0:POS=3;"};
    for (const std::string& w : want) EXPECT_NE(std::find(b.begin(), b.end(), w), b.end()) << w;
}

TEST_F(StationBlocks, PricesListEveryProduct)
{
    std::vector<std::string> b = block("@!APRS");
    ASSERT_EQ(b.size(), 6u);
    EXPECT_EQ(readReply(b[0]).cmd, "APRS");
    EXPECT_EQ(b[1], "{PRICES}");
    EXPECT_EQ(b[3], "NUM=2:NAME=АИ-95:COD=95:PRICE=5690;");
}

TEST_F(StationBlocks, RefusedBlockNamesAnotherCommand)
{
    pcu.refuseNext("ACFG", 5, "", "Конфигурация недоступна");
    lineClient c(pcu.ctlPort());
    reply r = readReply(c.command("@!ACFG"));
    EXPECT_NE(r.cmd, "ACFG");
    EXPECT_EQ(r.res, 5);
    EXPECT_EQ(r.el["TXT"], "Конфигурация недоступна");
    std::string more;
    EXPECT_FALSE(c.readLine(more, 50));  // no sections follow a refusal
}

TEST(StationJson, OverridesKnobsAndReplacesLists)
{
    sim::stationConfig cfg = sim::defaultStation();
    std::string err;
    ASSERT_EQ(sim::parseStationJson(R"({"driverVersion": 1, "tickMs": 7,
        "products": [{"num": 1, "name": "АИ-100", "cod": 100, "price": 7000}],
        "pumps": [{"num": 32, "hoses": [{"num": 1, "tank": 1, "prod": 0}], "autoCafe": 1}]})",
                                    cfg, err),
              0)
        << err;
    EXPECT_EQ(cfg.driverVersion, 1);
    EXPECT_EQ(cfg.tickMs, 7);
    EXPECT_EQ(cfg.flowMlPerTick, sim::defaultStation().flowMlPerTick);
    ASSERT_EQ(cfg.pumps.size(), 1u);
    EXPECT_EQ(cfg.pumps[0].num, 32);
    EXPECT_EQ(cfg.payments.size(), 3u);
}

TEST(StationJson, RejectsWhatTheLinesCannotCarry)
{
    sim::stationConfig cfg = sim::defaultStation();
    std::string err;
    EXPECT_EQ(sim::parseStationJson(R"({"pumps": [{"num": 33}]})", cfg, err), -1);
    EXPECT_EQ(sim::parseStationJson(R"({"pumps": [{"num": 1, "hoses": [{"prod": 9}]}]})", cfg, err), -1);
    EXPECT_EQ(sim::parseStationJson(R"({"products": [{"name": "A;B"}]})", cfg, err), -1);
    EXPECT_EQ(sim::parseStationJson("{not json", cfg, err), -1);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(cfg.pumps.size(), 4u);  // untouched by the failures
}

TEST(StationJson, SampleFileLoads)
{
    sim::stationConfig cfg = sim::defaultStation();
    std::string err;
    std::string here = __FILE__;
    std::string path = here.substr(0, here.rfind("/tests/")) + "/simulator/station.json";
    ASSERT_EQ(sim::loadStationFile(path, cfg, err), 0) << err;
    EXPECT_FALSE(cfg.pumps.empty());
}

}  // namespace
