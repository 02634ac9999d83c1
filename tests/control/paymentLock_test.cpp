// The payment lock as the order and fuelling endpoints use it, against the simulator.
#include "paymentLock.h"

#include <cstring>

#include "simSession.h"
#include "testSupport.h"

namespace {

using azs_apps::paymentLock;

class PaymentLock : public ctltest::SimSession {
protected:
    std::string keyFile;
    pcudata::pcuControl prototype;
    pcudata::trkState_t rec{};

    void SetUp() override
    {
        SimSession::SetUp();
        char dir[] = "/tmp/pmtlock_test_XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        keyFile = std::string(dir) + "/trkstat.mem";
        prototype.setIpcPath(keyFile);
        ASSERT_EQ(prototype.shmInit(), 0);
        driverVersion(2);
        pcudata::trkState_clear(rec);
        rec.trk = 1;
        ctl->set_wplace(20);
    }
    void TearDown() override
    {
        prototype.shmStop();
        testsupport::removeSegment(keyFile);
        ::unlink(keyFile.c_str());
        ::rmdir(keyFile.substr(0, keyFile.rfind('/')).c_str());
    }
    void driverVersion(int v) { prototype.getPcuStatus()->drvVersion = v; }
    int lock(paymentLock::caller who, int typ)
    {
        paymentLock pl(who, prototype);
        return pl._pmt_lock_ptr(ctl, &rec, order, typ, res);
    }
    size_t wpwrkSent() const { return pcu.receivedCommands("WPWRK").size(); }
};

TEST_F(PaymentLock, BusyTestDependsOnTheCallerAndOnlyGuardsTheSetting)
{
    struct row {
        paymentLock::caller who;
        int typ;
        int lockType;
        int lockWplace;
        int expected;
        bool sent;
    } rows[] = {
        {paymentLock::forOrder, 1, 0, 0, 1, true},     // free pump
        {paymentLock::forOrder, 1, 2, 20, 0, false},   // own workplace still counts for the order
        {paymentLock::forFueling, 1, 2, 20, 1, true},  // ... not for the fuelling side
        {paymentLock::forFueling, 1, 2, 7, 0, false},  // a till holds it
        {paymentLock::forOrder, 0, 2, 7, 1, true},     // releasing never asks
    };
    for (const row& r : rows) {
        pcu.clearReceivedControlLines();
        rec.lockType = r.lockType;
        rec.lockWplace = r.lockWplace;
        EXPECT_EQ(lock(r.who, r.typ), r.expected) << r.who << " " << r.typ << " " << r.lockWplace;
        EXPECT_EQ(wpwrkSent(), r.sent ? 1u : 0u);
    }
    EXPECT_TRUE(logs.has("fuelweb/order", Poco::Message::PRIO_WARNING,
                         "Уже идет работа с кассой на р.м. N20 (заказ 'A-1')"));
    EXPECT_TRUE(logs.has("fuelweb/order", Poco::Message::PRIO_INFORMATION,
                         "Установлена блокировка ТРК для оплаты (заказ 'A-1')"));
    EXPECT_TRUE(logs.has("fuelweb/fueling", Poco::Message::PRIO_INFORMATION,
                         "Установлена блокировка для оплаты (заказ 'A-1')"));
    EXPECT_TRUE(logs.has("fuelweb/order", Poco::Message::PRIO_INFORMATION,
                         "Сброс блокировки ТРК для оплаты (заказ 'A-1')"));
    EXPECT_EQ(pcu.receivedCommands("WPWRK").back(), "@!WPWRK;TYP=0;TRK=1;");
}

TEST_F(PaymentLock, OldDriverCountsAsLockedOnTheFuellingSideOnly)
{
    driverVersion(1);
    EXPECT_EQ(lock(paymentLock::forFueling, 1), 1);
    EXPECT_EQ(wpwrkSent(), 0u);
    EXPECT_TRUE(logs.texts("fuelweb/fueling").empty());
    EXPECT_EQ(lock(paymentLock::forOrder, 1), 1);
    EXPECT_EQ(wpwrkSent(), 1u);
}

TEST_F(PaymentLock, RefusalsAndMissingPieces)
{
    pcu.refuseNext("WPWRK", 9, "LOCKED", "Занято");
    EXPECT_EQ(lock(paymentLock::forOrder, 1), 9);
    EXPECT_TRUE(logs.has("fuelweb/order", Poco::Message::PRIO_WARNING,
                         "Уже идет работа с этой ТРК (заказ 'A-1') [err=9 tcod=LOCKED descr=Занято]"));

    pcu.closeOnNext("WPWRK");  // no answer at all: the cleared result's -1 comes back
    EXPECT_EQ(lock(paymentLock::forOrder, 1), -1);

    ctl->close();
    EXPECT_EQ(lock(paymentLock::forOrder, 1), 0);
    EXPECT_TRUE(logs.has("fuelweb/order", Poco::Message::PRIO_ERROR,
                         "Ошибка соединения с сервером Пультрон (заказ 'A-1')"));

    paymentLock pl(paymentLock::forOrder, prototype);
    EXPECT_EQ(pl._pmt_lock_ptr(ctl, nullptr, order, 1, res), -1);
    std::unique_ptr<pcudata::pcuControl> none;
    EXPECT_EQ(pl._pmt_lock_ptr(none, &rec, order, 1, res), -1);
}

}  // namespace
