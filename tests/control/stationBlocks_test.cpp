// Station configuration and price blocks read from the simulator.
#include "scriptedServer.h"
#include "simSession.h"

using namespace pcudata;
using ctltest::LOG_CTL_CYR;
using ctltest::SimSession;
using Poco::Message;

namespace {

class StationBlocks : public SimSession {
protected:
    acfg_data cfg;

    // The simulator answers the next request with this text instead of its own block.
    void answer(const std::string& cmd, const std::string& text, bool closeAfter = false)
    {
        sim::commandFault f;
        f.cmd = cmd;
        f.hasRaw = true;
        f.raw = text;
        f.closeAfter = closeAfter;
        pcu.injectFault(f);
    }
};

TEST_F(StationBlocks, FullConfiguration)
{
    ASSERT_EQ(ctl->getAzsCfg(cfg, err), 0);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(lines(), std::vector<std::string>{"@!ACFG"});  // no registration needed
    const sim::stationConfig want = station();
    ASSERT_EQ(cfg.products.size(), want.products.size());
    ASSERT_EQ(cfg.payments.size(), want.payments.size());
    ASSERT_EQ(cfg.tanks.size(), want.tanks.size());
    ASSERT_EQ(cfg.pumps.size(), want.pumps.size());
    for (size_t i = 0; i < want.products.size(); ++i) {
        EXPECT_EQ(cfg.products[i].name, want.products[i].name);
        EXPECT_EQ(cfg.products[i].cod, want.products[i].cod);
        EXPECT_EQ(cfg.products[i].price, want.products[i].price);
        EXPECT_EQ(cfg.products[i].color, want.products[i].color);
    }
    EXPECT_EQ(cfg.payments[2].cod, 8880);
    EXPECT_EQ(cfg.payments[2].name, want.payments[2].name);
    EXPECT_EQ(cfg.tanks[2].vol, want.tanks[2].vol);
    for (size_t i = 0; i < want.pumps.size(); ++i) {
        EXPECT_EQ(cfg.pumps[i].num, want.pumps[i].num);
        ASSERT_EQ(cfg.pumps[i].hoses.size(), want.pumps[i].hoses.size());
        for (size_t h = 0; h < want.pumps[i].hoses.size(); ++h) {
            EXPECT_EQ(cfg.pumps[i].hoses[h].tank, want.pumps[i].hoses[h].tank);
            EXPECT_EQ(cfg.pumps[i].hoses[h].prod, want.pumps[i].hoses[h].prod);
        }
    }
    EXPECT_TRUE(logs.has(LOG_CTL_CYR, Message::PRIO_INFORMATION, "Запрос конфигурации АЗС"));
}

TEST_F(StationBlocks, Prices)
{
    ASSERT_EQ(ctl->getAzsPrs(cfg, err), 0);
    EXPECT_EQ(lines(), std::vector<std::string>{"@!APRS"});
    ASSERT_EQ(cfg.products.size(), 3u);
    EXPECT_EQ(cfg.products[0].price, 5250);
    EXPECT_TRUE(cfg.pumps.empty());
    EXPECT_TRUE(logs.has(LOG_CTL_CYR, Message::PRIO_INFORMATION, "Запрос цен АЗС"));
}

TEST_F(StationBlocks, EndMissingConnectionClosed)
{
    answer("ACFG",
           "@0010ACFG;RES=1;\n{PUMP}\nNUM=1:TYP=2:MINAUS=0:S=1:TANK=1:PROD=0:S=2:TANK=2:PROD=1;\n"
           "NUM=2:TYP=2:MINAUS=0:S=1:TANK=3:PROD=2;\n",
           true);
    ASSERT_EQ(ctl->getAzsCfg(cfg, err), 0);
    ASSERT_EQ(cfg.pumps.size(), 2u);
    const acfg_pump_data& p = cfg.pumps[0];
    EXPECT_EQ(p.typ, 2);
    ASSERT_EQ(p.hoses.size(), 2u);
    EXPECT_EQ(p.hoses[1].num, 2);
    EXPECT_EQ(p.hoses[1].tank, 2);
    EXPECT_EQ(p.hoses[1].prod, 1);
    EXPECT_EQ(cfg.pumps[1].hoses[0].tank, 3);
}

TEST_F(StationBlocks, SectionsSwitchAndUnknownOnesAreSkipped)
{
    answer("ACFG",
           "@0010ACFG;RES=1;\nNUM=7:TYP=1;\n{PUMP}\nNUM=1:TYP=2;\n{XTRA}\nNUM=9:TYP=9;\n{TANK}\n"
           "NUM=1:COD=92:VOL=abc;\nnot a record\n{PUMP}\nNUMBER=3:TYP=4;\n{END}\n");
    ASSERT_EQ(ctl->getAzsCfg(cfg, err), 0);
    ASSERT_EQ(cfg.pumps.size(), 2u);  // the line before any header and the {XTRA} line are ignored
    EXPECT_EQ(cfg.pumps[0].num, 1);
    EXPECT_EQ(cfg.pumps[1].typ, 4);  // NUM followed by letters is still a record
    ASSERT_EQ(cfg.tanks.size(), 1u);
    EXPECT_EQ(cfg.tanks[0].vol, -1);
    EXPECT_TRUE(cfg.products.empty());
}

TEST_F(StationBlocks, PriceBlockKnowsOnlyPrices)
{
    answer("APRS",
           "@0010APRS;RES=1;\n{PUMP}\nNUM=1:TYP=2;\n{PRICES}\nNUM=2:NAME=АИ-95:COD=95:PRICE=5690;\n{END}\n");
    ASSERT_EQ(ctl->getAzsPrs(cfg, err), 0);
    EXPECT_TRUE(cfg.pumps.empty());
    ASSERT_EQ(cfg.products.size(), 1u);
    EXPECT_EQ(cfg.products[0].price, 5690);
    EXPECT_EQ(cfg.products[0].name, "АИ-95");
}

TEST_F(StationBlocks, RefusalWithResZeroIsAnEmptySuccess)
{
    answer("ACFG", "@0030ERRC;RES=0;TCOD=EMPTY;TXT=Нет данных;");
    EXPECT_EQ(ctl->getAzsCfg(cfg, err), 0);
    EXPECT_TRUE(cfg.pumps.empty() && cfg.products.empty());
    EXPECT_TRUE(
        logs.has(LOG_CTL_CYR, Message::PRIO_ERROR, "Ошибка получения конфигурации : Нет данных (0 : EMPTY)"));
}

TEST_F(StationBlocks, RefusalWithOtherResFails)
{
    answer("APRS", "@0030ERRC;RES=9;TCOD=ERR;TXT=Отказ;");
    EXPECT_EQ(ctl->getAzsPrs(cfg, err), -1);
    EXPECT_TRUE(
        logs.has(LOG_CTL_CYR, Message::PRIO_ERROR, "Ошибка получения конфигурации : Отказ (9 : ERR)"));
}

TEST_F(StationBlocks, NoHeaderAndNotConnected)
{
    pcu.dropNext("ACFG");
    EXPECT_EQ(ctl->getAzsCfg(cfg, err), -1);
    EXPECT_EQ(err, 0);
    ctl->close();
    EXPECT_EQ(ctl->getAzsCfg(cfg, err), -1);
    EXPECT_EQ(err, 107);
    EXPECT_EQ(ctl->_readPriceBlock(cfg, err), -1);
    EXPECT_EQ(lines().size(), 1u);
    EXPECT_TRUE(logs.has(LOG_CTL_CYR, Message::PRIO_ERROR, "Отсутсвует соединение с сокетом"));
}

}  // namespace

namespace {

TEST(StationBlockCut, HalfLineAtTheCloseIsDropped)
{
    scaledTimeSource fast{100};
    timeSourceGuard guard{&fast};
    ctltest::scriptedServer srv;
    srv.push("@0010APRS;RES=1;\n{PRICES}\nNUM=1:COD=92:PRICE=5250;\nNUM=2:COD=95:PRICE=56", true);
    pcuControl ctl("127.0.0.1", srv.port());
    acfg_data cfg;
    int err = -1;
    ASSERT_EQ(ctl.getAzsPrs(cfg, err), 0);
    ASSERT_EQ(cfg.products.size(), 1u);  // "PRICE=56" of a cut "PRICE=5690" never reaches the platform
    EXPECT_EQ(cfg.products[0].price, 5250);
    EXPECT_EQ(srv.received(), std::vector<std::string>{"@!APRS\n"});
}

}  // namespace

namespace {

TEST(StationBlockCut, HalfLineAtAResetIsDropped)
{
    scaledTimeSource fast{100};
    timeSourceGuard guard{&fast};
    ctltest::scriptedServer srv;
    srv.push("@0010APRS;RES=1;\n{PRICES}\nNUM=1:COD=92:PRICE=5250;\nNUM=2:COD=95:PRICE=56", false, true);
    pcuControl ctl("127.0.0.1", srv.port());
    acfg_data cfg;
    int err = -1;
    ASSERT_EQ(ctl.getAzsPrs(cfg, err), 0);
    ASSERT_EQ(cfg.products.size(), 1u);
    EXPECT_EQ(cfg.products[0].price, 5250);
}

}  // namespace
