// The notices to the platform, as the platform stub receives them, and the retry schedule of the
// two final ones on a recorded clock.
#include "notices.h"

#include <Poco/Message.h>
#include <Poco/URI.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platformStub.h"
#include "testSupport.h"
#include "timeSource.h"
#include "webTestSupport.h"

namespace {

using azs_apps::upstream::notices;
using azs_apps::upstream::settings;

// A clock that never waits: sleeps are recorded and move the clock on.
class recordingClock : public pcudata::timeSource {
public:
    time_t now() override { return static_cast<time_t>(nowUs() / 1000000); }
    int64_t nowUs() override
    {
        std::lock_guard<std::mutex> l(m);
        return virtualUs;
    }
    void sleepUs(int64_t us) override
    {
        std::lock_guard<std::mutex> l(m);
        sleeps.push_back(us);
        virtualUs += us;
    }
    std::vector<int64_t> slept()
    {
        std::lock_guard<std::mutex> l(m);
        return sleeps;
    }

private:
    std::mutex m;
    int64_t virtualUs = 1700000000LL * 1000000;
    std::vector<int64_t> sleeps;
};

std::string decoded(const std::string& v)
{
    std::string out;
    Poco::URI::decode(v, out, true);
    return out;
}

class Notices : public ::testing::Test {
protected:
    sim::platformStub platform;
    webtest::logCapture logs;

    void SetUp() override { ASSERT_EQ(platform.start(), 0); }
    settings target() const { return settings{platform.baseUrl(), false, ""}; }
};

TEST_F(Notices, BodiesPathsAndHeadersAsThePlatformReceivesThem)
{
    notices n(target(), "fuelweb/fueling");
    struct row {
        std::function<int64_t()> send;
        std::string path;
        std::string body;
    } rows[] = {
        {[&] { return n._cancel_order("c,s,t", "ORD-1", "Нет связи с ТРК"); }, "/canceled",
         "apikey=c,s,t&orderId=ORD-1&reason=Нет связи с ТРК"},
        {[&] { return n._complete_order("c,s,t", "ORD-1", "117", "05.03.2024 14:07:09", 12.5); },
         "/completed",
         "apikey=c,s,t&orderId=ORD-1&litre=12.50&extendedOrderId=117&extendedDate=05.03.2024 14:07:09"},
        {[&] { return n._complete_order("k", "O", "", "d", 0.0); }, "/completed",
         "apikey=k&orderId=O&litre=0.00&extendedOrderId=&extendedDate=d"},
        {[&] { return n._volume_order("c,s,t", "ORD-1", 12.5); }, "/volume",
         "apikey=c,s,t&orderid=ORD-1&litre=12.500000"},
        {[&] { return n._volume_order("k", "O", 0.0); }, "/volume", "apikey=k&orderid=O&litre=0.000000"},
        {[&] { return n._notify_client("c,s,t", "ORD-1", "ТРК готова к пуску. Cнимите пистолет"); },
         "/message", "apikey=c,s,t&orderid=ORD-1&msg=ТРК готова к пуску. Cнимите пистолет"},
    };
    for (const row& r : rows) {
        platform.clear();
        EXPECT_EQ(r.send(), 200) << r.path;
        auto got = platform.requestsTo(r.path);
        ASSERT_EQ(got.size(), 1u) << r.path;
        EXPECT_EQ(got[0].method, "POST");
        EXPECT_EQ(got[0].body, r.body);
        EXPECT_EQ(got[0].header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(got[0].header("Content-encoding"), "UTF-8");
        EXPECT_EQ(got[0].header("charset"), "utf-8");
        EXPECT_EQ(got[0].header("Content-language"), "ru");
    }
    EXPECT_TRUE(logs.has("fuelweb/_cancel", Poco::Message::PRIO_INFORMATION,
                         "Отправка статуса отмены (заказ 'ORD-1')"));
    EXPECT_TRUE(logs.has("fuelweb/_volume", Poco::Message::PRIO_INFORMATION,
                         "Получен ответ для счетчика налива  (заказ 'ORD-1') [200]"));
}

// A value holding the separators of a form body reaches the platform whole and adds no field.
TEST_F(Notices, ValuesWithFormSeparatorsArriveWhole)
{
    notices n(target(), "fuelweb/fueling");
    const std::string reason = "Ошибка пуска ТРК (a&b=c+d 100% \r\nreason=x)";
    ASSERT_EQ(n._cancel_order("c,s,t", "O&1", reason), 200);
    auto got = platform.requestsTo("/canceled");
    ASSERT_EQ(got.size(), 1u);
    auto fields = sim::platformStub::formFields(got[0].body);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_EQ(decoded(fields["reason"]), reason);
    EXPECT_EQ(decoded(fields["orderId"]), "O&1");
    EXPECT_EQ(azs_apps::upstream::formValue("абв ab"), "абв ab");
    EXPECT_EQ(azs_apps::upstream::formValue("&=+%\x7f"), "%26%3D%2B%25%7F");
}

TEST_F(Notices, NoEndpointNoTrafficAndUnreachablePlatform)
{
    notices none(settings{}, "fuelweb/fueling");
    EXPECT_EQ(none._volume_order("k", "O", 1.0), 503);
    EXPECT_EQ(none._notify_client("k", "O", "m"), 503);
    EXPECT_EQ(logs.texts("fuelweb/_volume"), std::vector<std::string>{"Не указан URL"});
    EXPECT_TRUE(platform.requests().empty());

    notices gone(settings{"http://127.0.0.1:" + std::to_string(testsupport::closedPort()), false, ""},
                 "fuelweb/fueling");
    EXPECT_EQ(gone._cancel_order("k", "O", "r"), 502);
    bool logged = false;
    for (const std::string& t : logs.texts("fuelweb/_cancel"))
        logged |= t.rfind("Ошибка передачи статуса отмены (заказ 'O') [err=7 descr='", 0) == 0;
    EXPECT_TRUE(logged);
}

TEST_F(Notices, RetryingFormStopsAtTheFirst200)
{
    recordingClock clock;
    pcudata::timeSourceGuard use(&clock);
    notices n(target(), "fuelweb/fueling");
    platform.setStatus("/completed", 204);
    platform.setListener([&](const sim::platformRequest&) {
        if (platform.requestsTo("/completed").size() == 3) platform.setStatus("/completed", 200);
    });
    EXPECT_TRUE(n._send_long_complete("k", "ORD-9", "55", "05.03.2024 14:07:09", 3.25));
    EXPECT_EQ(platform.requestsTo("/completed").size(), 4u);  // 204, 204, 204, 200
    EXPECT_EQ(clock.slept(), (std::vector<int64_t>{1000000, 1000000, 1000000}));
    EXPECT_EQ(
        logs.texts("fuelweb/fueling").back(),
        "Отправка завершения заказа c номером 'ORD-9' транзакция номер '55' время '05.03.2024 14:07:09' "
        "объем '3.250000' (1/4)");
}

// 20 series of 11 attempts 1 s apart with 60 s between series, then one more attempt.
TEST_F(Notices, RetryingFormGivesUpAfter221Attempts)
{
    recordingClock clock;
    pcudata::timeSourceGuard use(&clock);
    notices n(settings{}, "fuelweb/fueling");
    EXPECT_FALSE(n._send_long_cancel("k", "ORD-7", "Ошибка АЗС"));
    std::vector<int64_t> slept = clock.slept();
    ASSERT_EQ(slept.size(), 220u);
    int pauses60 = 0;
    for (size_t i = 0; i < slept.size(); ++i) {
        bool seriesEnd = (i + 1) % 11 == 0;
        EXPECT_EQ(slept[i], seriesEnd ? 60000000 : 1000000) << i;
        pauses60 += seriesEnd;
    }
    EXPECT_EQ(pauses60, 20);
    std::vector<std::string> lines = logs.texts("fuelweb/fueling");
    ASSERT_EQ(lines.size(), 222u);
    EXPECT_EQ(lines[0], "Отправка отмены заказа c номером 'ORD-7' Причина: 'Ошибка АЗС' (1/1)");
    EXPECT_EQ(lines[11], "Отправка отмены заказа c номером 'ORD-7' Причина: 'Ошибка АЗС' (2/1)");
    EXPECT_EQ(lines[220], "Отправка отмены заказа c номером 'ORD-7' Причина: 'Ошибка АЗС' (21/1)");
    EXPECT_EQ(lines[221], "Отправка отмены заказа 'ORD-7' прекращена после 221 попыток");
    EXPECT_EQ(logs.texts("fuelweb/_cancel").size(), 221u);
}

// The whole schedule against a platform that keeps answering 500, on a compressed clock.
TEST_F(Notices, RetryingFormAgainstARefusingPlatformInMilliseconds)
{
    pcudata::scaledTimeSource fast(20000.0);
    pcudata::timeSourceGuard use(&fast);
    platform.setStatus("/canceled", 500);
    notices n(target(), "fuelweb/fueling");
    EXPECT_FALSE(n._send_long_cancel("k", "ORD-8", "r"));
    EXPECT_EQ(platform.requestsTo("/canceled").size(), 221u);
}

TEST(NoticeOptions, TlsVerificationFollowsTheSettings)
{
    using azs_apps::upstream::tlsFor;
    settings off{"", false, "/etc/ca.pem"};
    settings on{"", true, "/etc/ca.pem"};
    EXPECT_FALSE(tlsFor("http://p/x", off).https);
    EXPECT_FALSE(tlsFor("http://p/x", on).https);
    auto t = tlsFor("https://p/x", off);
    EXPECT_TRUE(t.https);
    EXPECT_EQ(t.verifyPeer, 0);
    EXPECT_EQ(t.verifyHost, 0);
    EXPECT_EQ(t.caInfo, "");
    t = tlsFor("HTTPS://p/x", on);
    EXPECT_TRUE(t.https);
    EXPECT_EQ(t.verifyPeer, 1);
    EXPECT_EQ(t.verifyHost, 2);
    EXPECT_EQ(t.caInfo, "/etc/ca.pem");
}

TEST(NoticeOptions, ExtendedDateIsLocalTime)
{
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    ::setenv("TZ", "UTC-3", 1);
    ::tzset();
    EXPECT_EQ(notices::_makeExtDate(1709647629), "05.03.2024 17:07:09");
    recordingClock clock;
    {
        pcudata::timeSourceGuard use(&clock);
        EXPECT_EQ(notices::_makeExtDate(0), "15.11.2023 01:13:20");
    }
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
