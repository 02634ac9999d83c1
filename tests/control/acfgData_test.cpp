// Data lines of the station configuration and price blocks, without sockets.
#include <gtest/gtest.h>

#include "acfgData.h"

using namespace pcudata;

namespace {

TEST(AcfgFieldSplit, KeyAndValue)
{
    std::string key, sval;
    int ival = 7;
    int64_t lval = 7;
    _read_par_vals_str("NAME=АИ-95=x", key, sval);
    EXPECT_EQ(key, "NAME");
    EXPECT_EQ(sval, "АИ-95");
    _read_par_vals_int("COD= 42z", key, ival);
    EXPECT_EQ(key, "COD");
    EXPECT_EQ(ival, 42);
    _read_par_vals_long("PRICE=123456789012", key, lval);
    EXPECT_EQ(lval, 123456789012LL);
}

TEST(AcfgFieldSplit, NothingToConvertKeepsValue)
{
    std::string key = "OLD";
    int ival = 7;
    _read_par_vals_int("", key, ival);
    EXPECT_EQ(key, "OLD");
    _read_par_vals_int("TANK", key, ival);
    EXPECT_EQ(key, "TANK");
    EXPECT_EQ(ival, 7);
    _read_par_vals_int("TANK=abc", key, ival);
    EXPECT_EQ(ival, 7);
    _read_par_vals_int("TANK=99999999999", key, ival);
    EXPECT_EQ(ival, 7);
}

TEST(AcfgRecords, ProductLine)
{
    std::vector<acfg_prod_data> list;
    ASSERT_EQ(_read_prods_rec("NUM=2:NAME=АИ-95:COD=95;TYP=1:PRICE=5250:TAX=20:COLOR=3:ODD=1", list), 0);
    ASSERT_EQ(list.size(), 1u);
    const acfg_prod_data& p = list[0];
    EXPECT_EQ(p.num, 2);
    EXPECT_EQ(p.name, "АИ-95");
    EXPECT_EQ(p.cod, 95);
    EXPECT_EQ(p.typ, 1);
    EXPECT_EQ(p.price, 5250);
    EXPECT_EQ(p.tax, 20);
    EXPECT_EQ(p.color, 3);
}

TEST(AcfgRecords, MissingOrBadFieldsStartFromZero)
{
    std::vector<acfg_prod_data> prods;
    ASSERT_EQ(_read_prods_rec("NUM=1:COD=x", prods), 0);
    EXPECT_EQ(prods[0].cod, 0);
    EXPECT_EQ(prods[0].price, 0);
    std::vector<acfg_paym_data> payms;
    ASSERT_EQ(_read_payms_rec("NUMBER=4:NAME=Карта:SET=1:FLG=2:POS=3;COLOR=9", payms), 0);
    EXPECT_EQ(payms[0].num, 0);  // the key is NUMBER, not NUM
    EXPECT_EQ(payms[0].name, "Карта");
    EXPECT_EQ(payms[0].set, 1);
    EXPECT_EQ(payms[0].flg, 2);
    EXPECT_EQ(payms[0].pos, 3);
    EXPECT_EQ(payms[0].color, 9);
    EXPECT_EQ(payms[0].cod, 0);
}

TEST(AcfgRecords, LinesNotStartingWithNumAreRefused)
{
    std::vector<acfg_prod_data> prods;
    std::vector<acfg_pump_data> pumps;
    std::vector<acfg_tank_data> tanks;
    EXPECT_EQ(_read_prods_rec("", prods), -1);
    EXPECT_EQ(_read_prods_rec("NU", prods), -1);
    EXPECT_EQ(_read_prods_rec("COD=1:NUM=1", prods), -1);
    EXPECT_EQ(_read_pumps_rec("TYP=1", pumps), -1);
    EXPECT_EQ(_read_tanks_rec("num=1", tanks), -1);
    EXPECT_TRUE(prods.empty());
    EXPECT_TRUE(pumps.empty());
    EXPECT_TRUE(tanks.empty());
}

TEST(AcfgRecords, TankLineBadValueStoresMinusOne)
{
    std::vector<acfg_tank_data> list;
    ASSERT_EQ(_read_tanks_rec("NUM=3:COD=95:VOL=abc", list), 0);
    EXPECT_EQ(list[0].num, 3);
    EXPECT_EQ(list[0].cod, 95);
    EXPECT_EQ(list[0].vol, -1);
    ASSERT_EQ(_read_tanks_rec("NUM=4;VOL=20000000000", list), 0);
    EXPECT_EQ(list[1].vol, 20000000000LL);
    EXPECT_EQ(list[1].cod, 0);
}

TEST(AcfgRecords, PumpLineWithHoses)
{
    std::vector<acfg_pump_data> list;
    ASSERT_EQ(_read_pumps_rec("NUM=1:TYP=2:MINAUS=0:S=1:TANK=1:PROD=0:S=2:TANK=2:PROD=1;", list), 0);
    ASSERT_EQ(list.size(), 1u);
    const acfg_pump_data& p = list[0];
    EXPECT_EQ(p.num, 1);
    EXPECT_EQ(p.typ, 2);
    EXPECT_EQ(p.minaus, 0);
    ASSERT_EQ(p.hoses.size(), 2u);
    EXPECT_EQ(p.hoses[0].num, 1);
    EXPECT_EQ(p.hoses[0].tank, 1);
    EXPECT_EQ(p.hoses[0].prod, 0);
    EXPECT_EQ(p.hoses[1].num, 2);
    EXPECT_EQ(p.hoses[1].tank, 2);
    EXPECT_EQ(p.hoses[1].prod, 1);
}

TEST(AcfgRecords, HoseDoesNotInheritPreviousHose)
{
    std::vector<acfg_pump_data> list;
    ASSERT_EQ(_read_pumps_rec("NUM=5:S=1:TANK=3:PROD=2:S=2:S=x:PROD=abc:S=", list), 0);
    const acfg_pump_data& p = list[0];
    EXPECT_EQ(p.typ, 0);
    EXPECT_EQ(p.minaus, 0);
    ASSERT_EQ(p.hoses.size(), 3u);  // the empty segment after the last ":S=" adds no hose
    EXPECT_EQ(p.hoses[1].num, 2);
    EXPECT_EQ(p.hoses[1].tank, 0);
    EXPECT_EQ(p.hoses[1].prod, -1);
    EXPECT_EQ(p.hoses[2].num, 0);    // "x" is no number
    EXPECT_EQ(p.hoses[2].prod, -1);  // PROD=abc stores -1
}

TEST(AcfgRecords, PumpLineOnlyUsesTextBeforeSemicolon)
{
    std::vector<acfg_pump_data> list;
    ASSERT_EQ(_read_pumps_rec("NUMX=1:TYP=abc:S=1:TANK=1;S=2:TANK=2", list), 0);
    EXPECT_EQ(list[0].num, 0);
    EXPECT_EQ(list[0].typ, -1);
    EXPECT_EQ(list[0].hoses.size(), 1u);
}

TEST(AcfgRecords, ReleaseEmptiesEverything)
{
    acfg_data cfg;
    _read_prods_rec("NUM=1", cfg.products);
    _read_payms_rec("NUM=1", cfg.payments);
    _read_tanks_rec("NUM=1", cfg.tanks);
    _read_pumps_rec("NUM=1:S=1:S=2", cfg.pumps);
    release_acfg_data(cfg);
    EXPECT_TRUE(cfg.products.empty() && cfg.payments.empty() && cfg.tanks.empty() && cfg.pumps.empty());
}

}  // namespace
