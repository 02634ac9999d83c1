#include "trkState.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace pcudata;

namespace {

ptrdiff_t offsetIn(const void* base, const void* field)
{
    return static_cast<const char*>(field) - static_cast<const char*>(base);
}

// A record full of garbage, as a scratch record on the stack or a reused buffer would be.
std::unique_ptr<sharedTrk_t> dirtySegment()
{
    auto seg = std::make_unique<sharedTrk_t>();
    std::memset(seg.get(), 0xA5, sizeof(sharedTrk_t));
    return seg;
}

}  // namespace

TEST(TrkStateLayout, SizesAndPositionsMatchTheSharedFormat)
{
    EXPECT_EQ(sizeof(sharedTrk_t), 36176u);
    EXPECT_EQ(sizeof(trkState_t), 1128u);
    EXPECT_EQ(sizeof(pcuStatus_t), 72u);
    auto seg = std::make_unique<sharedTrk_t>();
    EXPECT_EQ(offsetIn(seg.get(), &seg->pcuStatus), 8);
    EXPECT_EQ(offsetIn(seg.get(), &seg->pcuStatus.drvVersion), 8 + 64);
    EXPECT_EQ(offsetIn(seg.get(), &seg->trkState[0]), 80);
    EXPECT_EQ(offsetIn(seg.get(), &seg->trkState[31]), 35048);
    const trkState_t& last = seg->trkState[31];
    EXPECT_EQ(offsetIn(&last, &last.volume), 1088);
    EXPECT_EQ(offsetIn(&last, &last.orderId), 128);
    EXPECT_EQ(offsetIn(&last, &last.status), 768);
    EXPECT_EQ(offsetIn(&last, &last.presetVolume), 920);
    EXPECT_EQ(offsetIn(&last, &last.blocked), 1116);
}

TEST(TrkStateReset, InitGivesEveryPumpTheUnpublishedState)
{
    auto seg = dirtySegment();
    sharedTrk_init(*seg);
    EXPECT_EQ(seg->header, 0);
    const pcuStatus_t& st = seg->pcuStatus;
    EXPECT_EQ(st.drvState, -1);
    EXPECT_EQ(st.dataTime, 0);
    EXPECT_STREQ(st.drvText1, "");
    EXPECT_STREQ(st.drvText2, "");
    EXPECT_EQ(st.drvParam3, -1);
    EXPECT_EQ(st.drvParam6, -1);
    EXPECT_EQ(st.drvVersion, -1);
    for (const trkState_t& s : seg->trkState) {
        EXPECT_EQ(s.lock, 0);
        EXPECT_EQ(s.tagged, 0);
        EXPECT_STREQ(s.orderId, "");
        EXPECT_STREQ(s.clientKey, "");
        EXPECT_EQ(s.tagTime, 0);
        EXPECT_EQ(s.notifyTime, 0);
        EXPECT_EQ(s.notifyDue, 0);
        EXPECT_EQ(s.prevStatus, -1);
        EXPECT_EQ(s.trk, 0);
        EXPECT_EQ(s.trkParam1, 0);
        EXPECT_EQ(s.trkParam2, -1);
        EXPECT_EQ(s.prodCode, -1);
        EXPECT_STREQ(s.prodName, "");
        EXPECT_EQ(s.status, -1);
        EXPECT_EQ(s.needPayFlag, 0);
        EXPECT_EQ(s.presetVolume, -1);
        EXPECT_EQ(s.presetFlags, 0);
        EXPECT_EQ(s.presetParam5, -1);
        EXPECT_EQ(s.trannum, -1);
        EXPECT_EQ(s.wCode, -1);
        EXPECT_STREQ(s.wText, "");
        EXPECT_EQ(s.volume, -1);
        EXPECT_EQ(s.amount, -1);
        EXPECT_EQ(s.autoCafe, 0);
        EXPECT_EQ(s.blocked, 0);
        EXPECT_EQ(s.reserved7, 0);
    }
}

class CopyTrkState : public ::testing::Test {
protected:
    trkState_t source{};
    trkState_t target{};

    void SetUp() override
    {
        trkState_clear(source);
        trkState_clear(target);
        source.tagged = 1;
        std::strcpy(source.orderId, "order-77");
        std::strcpy(source.clientKey, "client");
        std::strcpy(source.reserved1, "kept");
        source.status = 7;
        source.volume = 12340;
        source.amount = 56789;
        source.presetFlags = 2;
        source.blocked = 1;
        std::strcpy(source.wText, "W");
    }
};

TEST_F(CopyTrkState, CopiesFieldsButLeavesTheLockWord)
{
    source.lock = 0;
    target.lock = TRK_LOCK_HELD;
    ASSERT_TRUE(copyTrkState(&target, &source));
    EXPECT_EQ(target.lock, TRK_LOCK_HELD);
    EXPECT_EQ(target.tagged, 1);
    EXPECT_STREQ(target.orderId, "order-77");
    EXPECT_STREQ(target.clientKey, "client");
    EXPECT_STREQ(target.reserved1, "kept");
    EXPECT_STREQ(target.wText, "W");
    EXPECT_EQ(target.status, 7);
    EXPECT_EQ(target.volume, 12340);
    EXPECT_EQ(target.amount, 56789);
    EXPECT_EQ(target.presetFlags, 2);
    EXPECT_EQ(target.blocked, 1);
}

TEST_F(CopyTrkState, NullSideIsRefusedAndChangesNothing)
{
    EXPECT_FALSE(copyTrkState(&target, nullptr));
    EXPECT_FALSE(copyTrkState(nullptr, &source));
    EXPECT_EQ(target.status, -1);
}

TEST_F(CopyTrkState, UnterminatedTextArrivesTerminated)
{
    std::memset(source.prodName, 'x', sizeof(source.prodName));
    ASSERT_TRUE(copyTrkState(&target, &source));
    EXPECT_EQ(std::strlen(target.prodName), TRK_TEXT_SIZE - 1);
}

TEST(TrkStatusText, KnownCodesAndEverythingElse)
{
    EXPECT_STREQ(trkStatusText(0), "Нет связи с контроллером управления ТРК");
    EXPECT_STREQ(trkStatusText(7), "Идет отпуск топлива");
    EXPECT_STREQ(trkStatusText(11), "ТРК в исходном состоянии, требуется расчет с клиентом");
    EXPECT_STREQ(trkStatusText(16), "ТРК заблокирована");
    EXPECT_STREQ(trkStatusText(-1), "Статус ТРК неизвестен");
    EXPECT_STREQ(trkStatusText(17), "Статус ТРК неизвестен");
    EXPECT_STREQ(trkStatusText(-2147483647 - 1), "Статус ТРК неизвестен");
}
