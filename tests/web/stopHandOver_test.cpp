// A stop of the process (SIGTERM) does not wait for the retrying wrappers: a notice kept in the
// state file is handed to the background sender of the next start, at once, after the attempt
// under way; the next start sends it once. A notice that is not kept goes on as before.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "notices.h"
#include "outboxSender.h"
#include "platformStub.h"
#include "serviceStop.h"
#include "stateTestSupport.h"
#include "testSupport.h"
#include "webTestSupport.h"

namespace {

using namespace webtest;
using azs_apps::upstream::notices;
using azs_apps::upstream::settings;
namespace serviceStop = azs_apps::upstream::serviceStop;

using testsupport::waitFor;

class StopHandOver : public ::testing::Test {
protected:
    stateDir dir;
    logCapture logs;
    sim::platformStub platform;

    void SetUp() override { ASSERT_EQ(platform.start(), 0); }
    void TearDown() override
    {
        serviceStop::cancel();
        platform.stop();
    }
    settings target() const { return settings{platform.baseUrl(), false, ""}; }
    size_t attempts(const std::string& path) const { return platform.requestsTo(path).size(); }
};

// The stop comes while the wrapper waits out the minute between two series of attempts.
TEST_F(StopHandOver, StoredNoticeIsHandedToTheNextStartAndSentThereOnce)
{
    pcudata::scaledTimeSource fast(20);  // the minute lasts 3 s
    pcudata::timeSourceGuard use(&fast);
    installedOutbox box(dir.file());
    platform.setStatus("/canceled", 500);
    bool delivered = true;
    std::thread wrapper([&] {
        delivered =
            notices(target(), "fuelweb/fueling")._send_long_cancel("c,s,t", "ORD-5", "Нет связи с ТРК");
    });
    ASSERT_TRUE(waitFor([&] { return attempts("/canceled") == 11; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto stopAt = std::chrono::steady_clock::now();
    serviceStop::begin();
    wrapper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(2000));
    EXPECT_FALSE(delivered);
    EXPECT_EQ(attempts("/canceled"), 11u);
    auto kept = entriesOf(dir.file(), "ORD-5");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].state, "pending");
    EXPECT_EQ(kept[0].claimedBy, "");
    EXPECT_EQ(kept[0].attempts, 11);
    EXPECT_LE(kept[0].nextAt, fast.now());
    EXPECT_EQ(logs.texts("fuelweb/fueling").back(),
              "Остановка приложения: уведомление по заказу 'ORD-5' "
              "сохранено и будет отправлено при следующем запуске");

    // The next start: its sender takes the notice at once.
    serviceStop::cancel();
    platform.setStatus("/canceled", 200);
    {
        azs_apps::upstream::outboxSender sender(box.shared(), target(), 0);
        ASSERT_TRUE(waitFor([&] { return entriesOf(dir.file(), "ORD-5")[0].state == "delivered"; }));
    }
    EXPECT_EQ(attempts("/canceled"), 12u);
}

// A notice that comes to its first attempt during the stop gets that attempt; a notice without a
// state file is not handed over (it would be lost): its wrapper goes on to the end of its schedule.
TEST_F(StopHandOver, OnlyAStoredNoticeLeavesItsSchedule)
{
    flyingClock clock;
    pcudata::timeSourceGuard use(&clock);
    platform.setStatus("/completed", 500);
    serviceStop::begin();
    {
        installedOutbox box(dir.file());
        EXPECT_FALSE(notices(target(), "fuelweb/fueling")
                         ._send_long_complete("c,s,t", "ORD-6", "117", "05.03.2024 14:07:09", 12.5));
        EXPECT_EQ(attempts("/completed"), 1u);
        auto kept = entriesOf(dir.file(), "ORD-6");
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0].state, "pending");
        EXPECT_EQ(kept[0].claimedBy, "");
    }
    EXPECT_FALSE(notices(target(), "fuelweb/fueling")
                     ._send_long_complete("c,s,t", "ORD-7", "118", "05.03.2024 14:07:09", 1.0));
    EXPECT_EQ(attempts("/completed"), 1u + 221u);
}

}  // namespace
