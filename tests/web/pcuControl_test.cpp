// The controller session object's own values and settings, and its access to the shared pump table
// (addressing, search by order id, the web lock wait, the order tag).
#include "pcuControl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "testSupport.h"
#include "timeSource.h"
#include "trkLock.h"
#include "webTestSupport.h"

using namespace pcudata;

namespace {

TEST(PcuControlSettings, DefaultObjectHasBuiltInValues)
{
    pcuControl c;
    EXPECT_EQ(c.get_wplace(), 20);
    EXPECT_EQ(c.get_wplace_typ(), 14);
    EXPECT_EQ(c.get_paymnt(), 8880);
    EXPECT_EQ(c.get_paymnt("Corporation"), 8880);
    EXPECT_EQ(c.get_paymnt("Individual"), 8880);
    EXPECT_EQ(c.get_order_timeout(), 120);
    EXPECT_DOUBLE_EQ(c.get_overfill_order(), 0.0);
    EXPECT_DOUBLE_EQ(c.get_underfill_order(), -1.0);
    EXPECT_DOUBLE_EQ(c.get_overfill_lock(), 0.5);
    EXPECT_DOUBLE_EQ(c.get_overfill_lock_min_order(), 5.0);
    EXPECT_FALSE(c.is_overfill_lock_allow());
    EXPECT_FALSE(c.is_autocafe_order_allow());
    EXPECT_FALSE(c.postpay_allow());
    EXPECT_FALSE(c.is_registered());
    EXPECT_FALSE(c.is_shm());
    EXPECT_FALSE(c.isConnected());
    EXPECT_EQ(c.sock().getHost(), "127.0.0.1");
    EXPECT_EQ(c.sock().getPort(), 65520u);
    EXPECT_EQ(c.getLockTimeout(), 2);
}

TEST(PcuControlSettings, NegativeOverfillValuesAreIgnoredUnderfillIsNot)
{
    pcuControl c;
    c.set_overfill_order(1.5);
    c.set_overfill_order(-1.0);
    EXPECT_DOUBLE_EQ(c.get_overfill_order(), 1.5);
    c.set_overfill_lock(-0.1);
    c.set_overfill_lock_min_order(-5.0);
    EXPECT_DOUBLE_EQ(c.get_overfill_lock(), 0.5);
    EXPECT_DOUBLE_EQ(c.get_overfill_lock_min_order(), 5.0);
    c.set_overfill_lock(0.0);
    EXPECT_DOUBLE_EQ(c.get_overfill_lock(), 0.0);
    c.set_underfill_order(2.0);
    c.set_underfill_order(-1.0);
    EXPECT_DOUBLE_EQ(c.get_underfill_order(), -1.0);
}

TEST(PcuControlSettings, PaymentCodeByKindIsCaseSensitive)
{
    pcuControl c;
    c.set_paymnt(1);
    c.set_corp_paymnt(2);
    c.set_pers_paymnt(3);
    EXPECT_EQ(c.get_paymnt("Corporation"), 2);
    EXPECT_EQ(c.get_paymnt("Individual"), 3);
    EXPECT_EQ(c.get_paymnt("corporation"), 1);
    EXPECT_EQ(c.get_paymnt(""), 1);
}

TEST(PcuControlSettings, ConnectingConstructorKeepsBuiltInsWhenNobodyListens)
{
    uint16_t port = webtest::freePort();
    scaledTimeSource fast(1000);  // the connect retries pause 1.5 s each
    timeSourceGuard guard(&fast);
    pcuControl c("127.0.0.1", port);
    EXPECT_FALSE(c.isConnected());
    EXPECT_EQ(c.sock().getPort(), port);
    EXPECT_EQ(c.get_wplace(), 20);
}

TEST(PcuControlSettings, NotAttachedGivesEfault)
{
    pcuControl c;
    EXPECT_EQ(c.getTrkState(1), nullptr);
    EXPECT_EQ(c.getLastError(), EFAULT);
    EXPECT_EQ(c.getPcuDrvVer(), -1);
    EXPECT_EQ(c.getTrkByOrderId("A"), nullptr);
    EXPECT_EQ(c.lockTrkState(1), nullptr);
    EXPECT_EQ(c.getLastError(), EFAULT);
}

class PcuControlTable : public ::testing::Test {
protected:
    webtest::tempDir dir;
    pcuControl pcu;

    void SetUp() override
    {
        ASSERT_FALSE(dir.path().empty());
        pcu.setIpcPath(dir.keyFile());
        ASSERT_EQ(pcu.shmInit(), 0);
        ASSERT_TRUE(pcu.is_shm());
    }
};

TEST_F(PcuControlTable, AddressesPumpsOneToThirtyTwo)
{
    EXPECT_EQ(pcu.getTrkState(0), nullptr);
    EXPECT_EQ(pcu.getLastError(), EINVAL);
    EXPECT_EQ(pcu.getTrkState(33), nullptr);
    EXPECT_EQ(pcu.getLastError(), EINVAL);
    trkState_t* first = pcu.getTrkState(1);
    trkState_t* last = pcu.getTrkState(32);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(reinterpret_cast<char*>(last) - reinterpret_cast<char*>(first), 31 * 1128);
    EXPECT_EQ(pcu.getPcuDrvVer(), -1);  // fresh segment
    pcu.getPcuStatus()->drvVersion = 7;
    EXPECT_EQ(pcu.getPcuDrvVer(), 7);
}

TEST_F(PcuControlTable, DetachOnStopAndReattach)
{
    pcu.shmStop();
    EXPECT_FALSE(pcu.is_shm());
    EXPECT_EQ(pcu.getTrkState(1), nullptr);
    ASSERT_EQ(pcu.shmInit(), 0);
    EXPECT_NE(pcu.getTrkState(1), nullptr);
}

TEST_F(PcuControlTable, FindsTheLowestPumpCarryingAnOrderId)
{
    std::strcpy(pcu.getTrkState(9)->orderId, "ORD-1");
    std::strcpy(pcu.getTrkState(4)->orderId, "ORD-1");
    std::strcpy(pcu.getTrkState(2)->orderId, "ORD-10");
    EXPECT_EQ(pcu.getTrkByOrderId("ORD-1"), pcu.getTrkState(4));
    EXPECT_EQ(pcu.getTrkByOrderId("ORD"), nullptr);
    pcu.getTrkState(40);  // leaves lastError 22
    EXPECT_EQ(pcu.getTrkByOrderId(""), nullptr);
    EXPECT_EQ(pcu.getLastError(), EINVAL);
}

TEST_F(PcuControlTable, LockHeldElsewhereFailsAfterTwoToThreeSeconds)
{
    testsupport::manualClock clock;  // only the wait's own pauses move it
    clock.us += 400000;              // 0.4 s into a second: the deadline is 2.6 s away
    timeSourceGuard guard(&clock);
    trkState_t* rec = pcu.getTrkState(5);
    rec->lock = TRK_LOCK_HELD;  // held by "the monitor" for the whole test
    int64_t start = timeSrc().nowUs();
    EXPECT_FALSE(pcu.lockTrkPtr(rec));
    int64_t waited = timeSrc().nowUs() - start;
    EXPECT_EQ(pcu.getLastError(), EBUSY);
    EXPECT_GE(waited, 2000000);
    EXPECT_LE(waited, 3000000);
    EXPECT_EQ(rec->lock, TRK_LOCK_HELD);
}

TEST_F(PcuControlTable, LockAndUnlockOnlyTouchTheirOwnValue)
{
    trkState_t* rec = pcu.lockTrkState(3);
    ASSERT_EQ(rec, pcu.getTrkState(3));
    EXPECT_EQ(pcu.getLastError(), 0);
    EXPECT_TRUE(pcu.isLockedTrk(rec));
    pcu.unlockTrkState(3);
    EXPECT_FALSE(pcu.isLockedTrk(rec));
    rec->lock = 7;
    pcu.unlockTrkPtr(rec);
    EXPECT_EQ(rec->lock, 7);
    EXPECT_FALSE(pcu.isLockedTrk(nullptr));
    EXPECT_FALSE(pcu.lockTrkPtr(nullptr));
}

TEST_F(PcuControlTable, TagCutsLongTextsAndKeepsNotifyFieldsWithoutTime)
{
    trkState_t* rec = pcu.getTrkState(6);
    rec->notifyTime = 11;
    rec->notifyDue = 1;
    std::string longId(130, 'x');
    pcu.set_tagTrkPtr(rec, longId, "client", 0);
    EXPECT_EQ(rec->tagged, 1);
    EXPECT_EQ(std::string(rec->orderId), std::string(119, 'x'));
    EXPECT_STREQ(rec->clientKey, "client");
    EXPECT_EQ(rec->notifyTime, 11);
    EXPECT_EQ(rec->notifyDue, 1);
    EXPECT_NE(rec->tagTime, 0);
    EXPECT_EQ(rec->lock, TRK_LOCK_FREE);

    pcu.set_tagTrkPtr(rec, "", "", 42);  // empty texts keep the previous ones
    EXPECT_EQ(std::string(rec->orderId), std::string(119, 'x'));
    EXPECT_EQ(rec->notifyTime, 42);
    EXPECT_EQ(rec->notifyDue, 0);
}

TEST_F(PcuControlTable, ClearTagNeedsTheSameOrderIdAndKeepsTagTime)
{
    trkState_t* rec = pcu.getTrkState(8);
    pcu.set_tagTrkPtr(rec, "A-1", "key", 5);
    int32_t tagTime = rec->tagTime;
    pcu.clr_tagTrkPtr(rec, "A-2");
    EXPECT_EQ(rec->tagged, 1);
    EXPECT_EQ(rec->lock, TRK_LOCK_FREE);
    pcu.clr_tagTrkPtr(rec, "A-1");
    EXPECT_EQ(rec->tagged, 0);
    EXPECT_STREQ(rec->orderId, "");
    EXPECT_STREQ(rec->clientKey, "");
    EXPECT_EQ(rec->notifyTime, 0);
    EXPECT_EQ(rec->tagTime, tagTime);
}

TEST_F(PcuControlTable, TagByNumberLeavesTagTime)
{
    pcu.set_tagTrkState(10, "B-1", "key", 9);
    trkState_t* rec = pcu.getTrkState(10);
    EXPECT_EQ(rec->tagged, 1);
    EXPECT_EQ(rec->tagTime, 0);
    EXPECT_EQ(rec->notifyTime, 9);
    pcu.clr_tagTrkState(10, "B-1");
    EXPECT_EQ(rec->tagged, 0);
    pcu.set_tagTrkState(33, "C", "k", 1);
    EXPECT_EQ(pcu.getLastError(), EINVAL);
}

}  // namespace

namespace {

// The scoped guard gives the lock back on every way out, a throw included, and never releases a
// lock it did not obtain.
TEST_F(PcuControlTable, LockGuardReleasesOnEveryWayOut)
{
    trkState_t* rec = pcu.getTrkState(5);
    try {
        trkLock lock(pcu, rec);
        ASSERT_TRUE(lock.held());
        EXPECT_EQ(rec->lock, TRK_LOCK_HELD);
        throw 1;
    } catch (int) {
    }
    EXPECT_EQ(rec->lock, TRK_LOCK_FREE);

    scaledTimeSource fast(1000.0);
    timeSourceGuard use(&fast);
    rec->lock = TRK_LOCK_HELD;  // someone else holds it
    {
        trkLock lock(pcu, rec);
        EXPECT_FALSE(lock.held());
    }
    EXPECT_EQ(rec->lock, TRK_LOCK_HELD);
    rec->lock = TRK_LOCK_FREE;
    {
        trkLock lock(pcu, rec);
        lock.release();
        EXPECT_EQ(rec->lock, TRK_LOCK_FREE);
        rec->lock = TRK_LOCK_HELD;  // taken by another worker after the early release
    }
    EXPECT_EQ(rec->lock, TRK_LOCK_HELD);
}

}  // namespace
