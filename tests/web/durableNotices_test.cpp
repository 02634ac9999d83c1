// Final notices kept in the state file: stored before the first attempt of the retrying wrapper,
// marked delivered on a 200, handed to the background sender when the wrapper gives up, sent again
// at start-up, every 10 minutes for 7 days and then given up; never sent by two senders at once,
// never lost to a database that fails.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "durableState.h"
#include "notices.h"
#include "outboxSender.h"
#include "platformStub.h"
#include "processToken.h"
#include "stateTestSupport.h"
#include "testSupport.h"
#include "webConfig.h"
#include "webTestSupport.h"

namespace {

using namespace webtest;
using azs_apps::upstream::notices;
using azs_apps::upstream::outboxSender;
using azs_apps::upstream::settings;

constexpr int64_t SECOND_US = 1000000;
constexpr int64_t RESEND_US = 600 * SECOND_US;

using testsupport::waitFor;

// What the platform saw: when (on the clock of the test) and what it answered.
struct arrival {
    int64_t atUs;
    int status;
};

class DurableNotices : public ::testing::Test {
protected:
    stateDir dir;
    logCapture logs;
    sim::platformStub platform;
    std::mutex m;
    std::vector<arrival> arrivals;
    std::function<void(size_t)> onArrival;  // called with the count so far

    void SetUp() override
    {
        ASSERT_EQ(platform.start(), 0);
        platform.setListener([this](const sim::platformRequest& r) {
            if (r.path != "/completed" && r.path != "/canceled") return;
            size_t n;
            std::function<void(size_t)> hook;
            {
                std::lock_guard<std::mutex> g(m);
                arrivals.push_back({pcudata::timeSrc().nowUs(), r.status});
                n = arrivals.size();
                hook = onArrival;
            }
            if (hook) hook(n);
        });
    }
    void TearDown() override { platform.stop(); }

    settings target() const { return settings{platform.baseUrl(), false, ""}; }
    std::vector<arrival> seen()
    {
        std::lock_guard<std::mutex> g(m);
        return arrivals;
    }
    size_t count() { return seen().size(); }
    size_t delivered()
    {
        size_t n = 0;
        for (const arrival& a : seen()) n += a.status == 200;
        return n;
    }
};

TEST_F(DurableNotices, StoredBeforeTheFirstAttemptAndMarkedDeliveredOnA200)
{
    installedOutbox box(dir.file());
    std::vector<state::outboxEntry> atFirstAttempt;
    onArrival = [&](size_t) { atFirstAttempt = entriesOf(dir.file(), "ORD-1"); };
    notices n(target(), "fuelweb/fueling");
    EXPECT_TRUE(n._send_long_complete("c,s,t", "ORD-1", "117", "05.03.2024 14:07:09", 12.5));

    ASSERT_EQ(atFirstAttempt.size(), 1u);
    EXPECT_EQ(atFirstAttempt[0].state, "pending");
    EXPECT_EQ(atFirstAttempt[0].notice.litre, 12.5);
    EXPECT_EQ(atFirstAttempt[0].claimedBy, state::processToken::self());
    auto after = entriesOf(dir.file(), "ORD-1");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].state, "delivered");
    EXPECT_EQ(after[0].attempts, 1);
    // The platform receives what it always did.
    auto got = platform.requestsTo("/completed");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].body,
              "apikey=c,s,t&orderId=ORD-1&litre=12.50&extendedOrderId=117&extendedDate=05.03.2024 14:07:09");
}

TEST_F(DurableNotices, WrapperThatGivesUpHandsTheNoticeToTheSlowCadence)
{
    flyingClock clock;
    pcudata::timeSourceGuard use(&clock);
    installedOutbox box(dir.file());
    platform.setStatus("/canceled", 500);
    const time_t start = clock.now();
    notices n(target(), "fuelweb/fueling");
    EXPECT_FALSE(n._send_long_cancel("k", "ORD-2", "Нет связи с ТРК"));

    auto e = entriesOf(dir.file(), "ORD-2");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].state, "pending");
    EXPECT_EQ(e[0].claimedBy, "");
    EXPECT_EQ(e[0].attempts, 221);
    EXPECT_EQ(e[0].lastStatus, 500);
    EXPECT_EQ(e[0].nextAt, clock.now() + 600);
    EXPECT_EQ(e[0].deadlineAt, start + 7 * 86400);
    std::vector<std::string> lines = logs.texts("fuelweb/fueling");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Отправка отмены заказа 'ORD-2' прекращена после 221 попыток");
    EXPECT_EQ(lines.back().rfind(
                  "Уведомление по заказу 'ORD-2' сохранено и будет отправляться каждые 600 с до ", 0),
              0u);
}

// The platform is away for longer than the wrapper's 23 minutes: the wrapper gives up, the
// background sender (started while the wrapper was retrying, so its start-up sweep meets the
// notice in flight) tries every 10 minutes and delivers it once the platform is back, once.
TEST_F(DurableNotices, PlatformDownLongerThanTheWrappersScheduleGetsTheNoticeLaterOnce)
{
    pcudata::scaledTimeSource fast(2000.0);
    pcudata::timeSourceGuard use(&fast);
    installedOutbox box(dir.file());
    platform.setStatus("/completed", 503);
    std::atomic<bool> startSender{false};
    onArrival = [&](size_t n) {
        if (n == 5) startSender = true;
        if (n == 222) platform.setStatus("/completed", 200);  // the sender's second attempt gets through
    };
    std::unique_ptr<outboxSender> sender;
    std::thread wrapper([&] {
        notices n(target(), "fuelweb/fueling");
        EXPECT_FALSE(n._send_long_complete("k", "ORD-3", "9", "01.01.2025 10:00:00", 1.0));
    });
    ASSERT_TRUE(waitFor([&] { return startSender.load(); }));
    sender = std::make_unique<outboxSender>(box.shared(), target(), 0);
    wrapper.join();
    EXPECT_EQ(count(), 221u) << "the sender sent the notice while the wrapper held it";

    ASSERT_TRUE(waitFor([&] { return delivered() == 1; }, 20000));
    auto a = seen();
    ASSERT_EQ(a.size(), 223u);
    // Ten minutes after the wrapper gave up, and ten minutes after that (a loaded machine may
    // wake the sender a little late on this fast clock).
    for (size_t i : {221u, 222u}) {
        double gap = static_cast<double>(a[i].atUs - a[i - 1].atUs) / SECOND_US;
        EXPECT_GE(gap, 590.0) << i;
        EXPECT_LE(gap, 900.0) << i;
    }
    // Delivered: nothing more, however long the sender runs.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // ~3 cadences
    EXPECT_EQ(count(), 223u);
    EXPECT_EQ(entriesOf(dir.file(), "ORD-3")[0].state, "delivered");
    EXPECT_EQ(entriesOf(dir.file(), "ORD-3")[0].attempts, 223);
}

TEST_F(DurableNotices, SenderGivesUpAfterSevenDaysOfAttemptsEveryTenMinutes)
{
    flyingClock clock;
    pcudata::timeSourceGuard use(&clock);
    installedOutbox box(dir.file());
    platform.setStatus("/canceled", 502);
    const int64_t stored = clock.nowUs();
    int64_t id =
        box->store(state::finalNotice::cancel("k", "ORD-4", "r"), clock.now(), clock.now() + 7 * 86400);
    box->release(id, clock.now() + 600);
    {
        outboxSender sender(box.shared(), target(), 0);
        ASSERT_TRUE(waitFor([&] { return entriesOf(dir.file(), "ORD-4")[0].state == "abandoned"; }, 60000));
    }
    auto a = seen();
    // At start-up, then every 10 minutes until the 7 days are over.
    ASSERT_EQ(a.size(), 1008u);
    EXPECT_EQ(a[0].atUs, stored);
    for (size_t i = 1; i < a.size(); ++i) ASSERT_EQ(a[i].atUs - a[i - 1].atUs, RESEND_US) << i;
    auto e = entriesOf(dir.file(), "ORD-4")[0];
    EXPECT_EQ(e.attempts, 1008);
    EXPECT_EQ(e.lastAttemptAt * SECOND_US, a.back().atUs);
    std::vector<std::string> errors;
    for (const logLine& l : logs.lines())
        if (l.source == "fuelweb/outbox" && l.prio == Poco::Message::PRIO_ERROR) errors.push_back(l.text);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(
        errors[0].rfind("Уведомление отмены заказа 'ORD-4' не доставлено платформе: отправка прекращена ", 0),
        0u);
    EXPECT_NE(errors[0].find("(попыток 1008, последний ответ 502)"), std::string::npos);
}

// What a process left behind goes out at once when the sender starts; a delivered notice never
// does, nor one that a wrapper of this process is still sending.
TEST_F(DurableNotices, StartUpSendsWhatIsPendingAndNothingElse)
{
    pcudata::scaledTimeSource clock(2000.0);
    pcudata::timeSourceGuard use(&clock);
    installedOutbox box(dir.file());
    const time_t now = clock.now();
    auto gone = [&] {
        std::string error;
        auto db = state::stateDb::open(dir.file(), state::stateDb::readWrite, state::stateDb::full, error);
        return std::make_unique<state::outbox>(std::move(db), "1:1");  // pid 1, but not that process
    }();
    int64_t waiting = box->store(state::finalNotice::cancel("k", "WAITING", "r"), now, now + 86400);
    box->release(waiting, now + 500);
    gone->store(state::finalNotice::cancel("k", "CRASHED", "r"), now, now + 86400);
    int64_t done = box->store(state::finalNotice::cancel("k", "DONE", "r"), now, now + 86400);
    box->delivered(done, now);
    int64_t inFlight = box->store(state::finalNotice::cancel("k", "IN-FLIGHT", "r"), now, now + 86400);

    {
        outboxSender sender(box.shared(), target(), 0);
        ASSERT_TRUE(waitFor([&] { return count() == 2; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::vector<std::string> orders;
        for (const auto& r : platform.requestsTo("/canceled"))
            orders.push_back(sim::platformStub::formFields(r.body)["orderId"]);
        EXPECT_EQ(orders, (std::vector<std::string>{"WAITING", "CRASHED"}));
        // The wrapper gives up on its notice: the sender has it ten minutes later.
        box->failed(inFlight, 500, clock.now(), clock.now() + 600);
        ASSERT_TRUE(waitFor([&] { return count() == 3; }));
    }
    EXPECT_EQ(sim::platformStub::formFields(platform.requestsTo("/canceled")[2].body)["orderId"],
              "IN-FLIGHT");
    for (const char* order : {"WAITING", "CRASHED", "DONE", "IN-FLIGHT"})
        EXPECT_EQ(entriesOf(dir.file(), order)[0].state, "delivered") << order;
}

// The database must never stop an order: the notice goes out from memory.
TEST_F(DurableNotices, NoticeIsSentWhenTheDatabaseRefusesTheWrite)
{
    installedOutbox box(dir.file());
    box->busyWaitMs(20);
    {
        writeBlocker blocked(dir.file());
        notices n(target(), "fuelweb/fueling");
        EXPECT_TRUE(n._send_long_cancel("k", "ORD-5", "r"));
    }
    EXPECT_EQ(delivered(), 1u);
    EXPECT_TRUE(entriesOf(dir.file(), "ORD-5").empty());
    EXPECT_EQ(logs.texts("fuelweb/state").size(), 1u);
    EXPECT_TRUE(
        logs.has("fuelweb/fueling", Poco::Message::PRIO_ERROR,
                 "Уведомление по заказу 'ORD-5' не сохранено в файле состояния, отправка только из памяти"));
}

// --- the state of a service cycle ------------------------------------------------------------------

azs_apps::webConfig configOf(const std::string& members)
{
    return azs_apps::webConfig::fromText("{\"fuelweb\":{" + members + "}}");
}

TEST_F(DurableNotices, StateFileThatCannotBeOpenedCostsOneErrorLine)
{
    const std::string file = dir.path() + "/file";
    FILE* f = std::fopen(file.c_str(), "w");
    std::fclose(f);
    {
        azs_apps::durableState st(
            azs_apps::settings::read(configOf("\"state_path\":\"" + file + "/state.db\"")));
        EXPECT_FALSE(st.ready());
        EXPECT_FALSE(state::outbox::current());
        notices n(target(), "fuelweb/fueling");
        EXPECT_TRUE(n._send_long_cancel("k", "ORD-6", "r"));
    }
    std::vector<std::string> errors;
    for (const logLine& l : logs.lines())
        if (l.prio <= Poco::Message::PRIO_ERROR) errors.push_back(l.source + ": " + l.text);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(
        errors[0].rfind("fuelweb/state: Не удалось открыть файл состояния '" + file + "/state.db': ", 0), 0u);
    EXPECT_EQ(delivered(), 1u);
}

// A restart of the service makes the next cycle's state before the last one's is gone; the
// outbox stays installed throughout.
TEST_F(DurableNotices, NextCycleKeepsTheOutboxInstalled)
{
    auto cfg = configOf("\"state_path\":\"" + dir.file() + "\",\"upstream_endpoint\":\"" +
                        platform.baseUrl() + "\"");
    auto first = std::make_unique<azs_apps::durableState>(azs_apps::settings::read(cfg));
    ASSERT_TRUE(first->ready());
    auto second = std::make_unique<azs_apps::durableState>(azs_apps::settings::read(cfg));
    first.reset();
    EXPECT_EQ(state::outbox::current(), second->outbox());
    second.reset();
    EXPECT_FALSE(state::outbox::current());
}

}  // namespace
