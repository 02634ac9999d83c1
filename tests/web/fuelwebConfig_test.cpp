// The root application's reading of the "fuelweb" keys: defaults, payment-code resolution, overfill
// rules, and the start-up report that tells the operator what was taken.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <memory>

#include "fuelweb.h"
#include "webConfig.h"
#include "webService.h"
#include "webTestSupport.h"

using azs_apps::fuelweb;
using azs_apps::webConfig;
using azs_apps::webService;

namespace {

class FuelwebConfig : public ::testing::Test {
protected:
    webtest::logCapture logs;
    std::shared_ptr<const azs_apps::settings> cfg;
    std::unique_ptr<webService> svc;
    std::unique_ptr<fuelweb> app;

    fuelweb& build(const std::string& fuelwebMembers)
    {
        webConfig file = webConfig::fromText("{\"fuelweb\":{" + fuelwebMembers + "}}");
        cfg = std::make_shared<const azs_apps::settings>(azs_apps::settings::read(file));
        file.logNewWarnings(Poco::Logger::get("fuelweb"));
        svc = fuelweb::service(cfg);
        app = std::make_unique<fuelweb>(*svc, *cfg);
        return *app;
    }
    void expectCodes(int dflt, int corp, int pers)
    {
        EXPECT_EQ(app->pcu().get_paymnt(), dflt);
        EXPECT_EQ(app->pcu().get_paymnt("Corporation"), corp);
        EXPECT_EQ(app->pcu().get_paymnt("Individual"), pers);
    }
};

TEST_F(FuelwebConfig, NoKeysGiveTheDefaults)
{
    fuelweb& a = build("");
    EXPECT_EQ(a.config().script, "/api/fuelweb");
    EXPECT_EQ(a.config().ctlKey, "");
    EXPECT_EQ(a.config().upstreamKey, "");
    EXPECT_EQ(a.config().platform.endpoint, "");
    pcudata::pcuControl& p = a.pcu();
    EXPECT_EQ(p.sock().getHost(), "127.0.0.1");
    EXPECT_EQ(p.sock().getPort(), 65520u);
    EXPECT_EQ(p.get_wplace(), 20);
    EXPECT_EQ(p.get_wplace_typ(), 4);
    expectCodes(8880, 8880, 8880);
    EXPECT_FALSE(p.postpay_allow());
    EXPECT_EQ(p.get_order_timeout(), 120);
    EXPECT_DOUBLE_EQ(p.get_underfill_order(), -1.0);
    EXPECT_DOUBLE_EQ(p.get_overfill_order(), 0.0);
    EXPECT_DOUBLE_EQ(p.get_overfill_lock(), 0.5);
    EXPECT_DOUBLE_EQ(p.get_overfill_lock_min_order(), 5.0);
    EXPECT_FALSE(p.is_overfill_lock_allow());
    EXPECT_FALSE(p.is_autocafe_order_allow());
    EXPECT_EQ(p.getIpcPath(), "/tmp/trkstat.mem");
    EXPECT_FALSE(p.is_shm());  // attached only by the first request that needs it
}

TEST_F(FuelwebConfig, KeysOfTheWrongTypeTakeTheirDefaults)
{
    fuelweb& a = build(
        "\"ctl_port\":\"7000\",\"ctl_wplace\":3.5,\"ctl_postpay_allow\":1,\"order_timeout\":60.0,"
        "\"ctl_key\":5,\"tmp_path\":\"/var/tmp\",\"ctl_underfill_order\":2,\"ctl_wplace_type\":99999999999");
    EXPECT_EQ(a.pcu().sock().getPort(), 65520u);
    EXPECT_EQ(a.pcu().get_wplace(), 20);
    EXPECT_EQ(a.pcu().get_wplace_typ(), 4);
    EXPECT_FALSE(a.pcu().postpay_allow());
    EXPECT_EQ(a.pcu().get_order_timeout(), 60);  // an integral real counts as an integer
    EXPECT_EQ(a.config().ctlKey, "");
    EXPECT_EQ(a.pcu().getIpcPath(), "/var/tmp/trkstat.mem");
    EXPECT_DOUBLE_EQ(a.pcu().get_underfill_order(), 2.0);
}

// The corporate code alone serves all kinds; the corporate code follows the private one; the private
// code wins over the corporate one for the default; zero is kept but never borrowed.
TEST_F(FuelwebConfig, PaymentCodesBorrowFromEachOther)
{
    struct row {
        const char* members;
        int dflt, corp, pers;
    } rows[] = {
        {"\"ctl_pmtcod_corp\":7", 7, 7, 7},
        {"\"ctl_pmtcod\":5,\"ctl_pmtcod_pers\":9", 5, 9, 9},
        {"\"ctl_pmtcod\":0", 0, 0, 0},
        {"\"ctl_pmtcod_pers\":0,\"ctl_pmtcod_corp\":4", 4, 4, 0},
        {"\"ctl_pmtcod_pers\":3,\"ctl_pmtcod_corp\":4", 3, 4, 3},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.members);
        build(r.members);
        expectCodes(r.dflt, r.corp, r.pers);
    }
}

TEST_F(FuelwebConfig, NegativeOverfillValuesKeepTheBuiltIns)
{
    fuelweb& a = build(
        "\"ctl_overfill_lock\":-2,\"ctl_overfill_order\":-1.0,\"ctl_overfill_lock_min_order\":-3,"
        "\"ctl_underfill_order\":-0.5,\"ctl_overfill_lock_allow\":true");
    EXPECT_DOUBLE_EQ(a.pcu().get_overfill_lock(), 0.5);
    EXPECT_DOUBLE_EQ(a.pcu().get_overfill_order(), 0.0);
    EXPECT_DOUBLE_EQ(a.pcu().get_overfill_lock_min_order(), 5.0);
    EXPECT_DOUBLE_EQ(a.pcu().get_underfill_order(), -0.5);
    EXPECT_TRUE(a.pcu().is_overfill_lock_allow());
}

TEST_F(FuelwebConfig, ReportListsTheSettingsInOrder)
{
    build(
        "\"ctl_pmtcod\":5,\"ctl_pmtcod_pers\":9,\"ctl_pmtcod_corp\":12,\"ctl_postpay_allow\":true,"
        "\"order_timeout\":77,\"ctl_autocafe_allow\":true,\"ctl_overfill_lock_allow\":true,"
        "\"ctl_overfill_lock\":1.25,\"ctl_overfill_lock_min_order\":10");
    std::vector<std::string> expected = {
        "Установлен вид оплаты для \"ТОРВИЛ (Юр. лица)\"  : (12)",
        "Установлен вид оплаты для \"ТОРВИЛ (Физ. лица)\" : (9)",
        "Вид оплаты для \"ТОРВИЛ\" (по умолчанию) : (5)",
        "Режим постоплаты для \"ТОРВИЛ\" : (Разрешено)",
        "Таймаут ожидания пуска ТРК : (77)",
        "Разрешение отпуска с ТРК в режиме автокафе : (Разрешено)",
        "Поддержка блокировки ТРК в случае перелива : (Разрешено)",
        "Блокировка ТРК при переливе свыше : (1.250000)",
        "Мин. объем заказа для блокировки ТРК при переливе : (10.000000)",
    };
    EXPECT_EQ(logs.texts("fuelweb"), expected);
    for (const webtest::logLine& l : logs.lines()) EXPECT_EQ(l.prio, Poco::Message::PRIO_INFORMATION);
}

TEST_F(FuelwebConfig, ZeroLockAmountSwitchesTheLockOffAndShortensTheReport)
{
    fuelweb& a = build("\"ctl_overfill_lock\":0,\"ctl_overfill_lock_allow\":true");
    EXPECT_FALSE(a.pcu().is_overfill_lock_allow());
    std::vector<std::string> lines = logs.texts("fuelweb");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[3], "Режим постоплаты для \"ТОРВИЛ\" : (Запрещено)");
    EXPECT_EQ(lines[5], "Разрешение отпуска с ТРК в режиме автокафе : (Запрещено)");
    EXPECT_EQ(lines[6], "Поддержка блокировки ТРК в случае перелива : (Запрещено)");
}

TEST_F(FuelwebConfig, EveryNewRootObjectReportsAgain)
{
    build("");
    fuelweb second(*svc, *cfg);
    EXPECT_EQ(logs.texts("fuelweb").size(), 14u);
}

TEST(WebConfigFile, RejectsTextThatIsNotAnObject)
{
    EXPECT_ANY_THROW(webConfig::fromText("[1,2]"));
    EXPECT_ANY_THROW(webConfig::fromText("{\"a\":"));
    EXPECT_ANY_THROW(webConfig::fromFile("/nonexistent/fuelweb.json"));
    webConfig cfg = webConfig::fromText("{\"a\":{\"b\":{\"c\":true}},\"n\":1e300}");
    EXPECT_TRUE(cfg.getBool("a.b.c", false));
    EXPECT_EQ(cfg.getString("a.b", "x"), "x");
    EXPECT_EQ(cfg.getInt("n", 3), 3);
    EXPECT_EQ(cfg.getInt("a.b.c.d", 4), 4);
}

}  // namespace
