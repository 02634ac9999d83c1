// /ping through real HTTP against a real shared segment: key checks, pump number checks, the
// answer for each kind of pump state, the lock command, and post-payment information.
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "timeSource.h"
#include "webTestSupport.h"

using pcudata::trkState_t;

namespace {

const std::string KEYS = "client,srv,azs";

Poco::JSON::Object::Ptr parse(const std::string& body)
{
    Poco::JSON::Parser p;
    return p.parse(body).extract<Poco::JSON::Object::Ptr>();
}

// One service and one segment per suite; each test publishes the pumps it looks at.
class PingBase : public ::testing::Test {
protected:
    static std::unique_ptr<webtest::tempDir> dir;
    static std::unique_ptr<webtest::segmentView> seg;
    static std::unique_ptr<webtest::runningService> svc;

    static void startWith(bool postpay)
    {
        dir = std::make_unique<webtest::tempDir>();
        seg = std::make_unique<webtest::segmentView>(dir->keyFile());
        svc = std::make_unique<webtest::runningService>(
            webtest::configWith("\"upstream_key\":\"srv\",\"ctl_key\":\"azs\",\"tmp_path\":\"" + dir->path() +
                                "\",\"ctl_postpay_allow\":" + (postpay ? "true" : "false")));
    }
    static void TearDownTestSuite()
    {
        svc.reset();
        seg.reset();
        dir.reset();
    }

    webtest::logCapture logs;

    webtest::httpReply ping(const std::string& column, const std::string& extra = "",
                            const std::string& keys = KEYS)
    {
        return webtest::httpGet(svc->port(),
                                "/api/fuelweb/ping?apikey=" + keys + "&columnId=" + column + extra);
    }
    trkState_t& publish(int n, int status = 3) { return seg->publish(n, status); }
    bool logged(int prio, const std::string& text) { return logs.has("fuelweb/ping", prio, text); }
};
std::unique_ptr<webtest::tempDir> PingBase::dir;
std::unique_ptr<webtest::segmentView> PingBase::seg;
std::unique_ptr<webtest::runningService> PingBase::svc;

class PingRequest : public PingBase {
protected:
    static void SetUpTestSuite() { startWith(false); }
};

TEST_F(PingRequest, FreePumpAnswers200WithExactBodyAndHeaders)
{
    publish(3);
    webtest::httpReply r = ping("3");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(
        r.body,
        "{\"Description\":\"Исходное состояние ТРК, пистолет повешен\",\"Status\":\"Free\",\"statusId\":3}");
    EXPECT_EQ(r.contentType, "application/json");
    EXPECT_EQ(r.contentEncoding, "utf-8");
    EXPECT_EQ(r.contentLanguage, "ru");
    EXPECT_TRUE(logged(Poco::Message::PRIO_INFORMATION, "Получен запрос на получение состояния ТРК '3'"));
}

TEST_F(PingRequest, MissingNumberAndMissingKeys)
{
    webtest::httpReply r = webtest::httpGet(svc->port(), "/api/fuelweb/ping?apikey=" + KEYS);
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.body, "");
    EXPECT_TRUE(logged(Poco::Message::PRIO_ERROR, "Не задан номер ТРК"));
    r = webtest::httpGet(svc->port(), "/api/fuelweb/ping?columnId=1");
    EXPECT_EQ(r.status, 401);
    EXPECT_TRUE(logged(Poco::Message::PRIO_ERROR, "Ошибка авторизации"));
}

TEST_F(PingRequest, KeyChecksNameTheFirstFailingKey)
{
    publish(1);
    EXPECT_EQ(ping("1", "", "client,srv").status, 401);
    EXPECT_TRUE(logged(Poco::Message::PRIO_DEBUG, "Ошибка авторизации (azs key)"));
    EXPECT_EQ(ping("1", "", "client,other,azs").status, 401);
    EXPECT_TRUE(logged(Poco::Message::PRIO_DEBUG, "Ошибка авторизации (server key)"));
    EXPECT_EQ(ping("1", "", ",srv,azs").status, 401);
    EXPECT_TRUE(logged(Poco::Message::PRIO_DEBUG, "Ошибка авторизации (apikey)"));
    EXPECT_EQ(ping("1", "", "client,srv,azs,more").status, 200);
}

TEST_F(PingRequest, PumpNumberIsParsedLikeAnInteger)
{
    publish(7);
    EXPECT_EQ(ping("%207").status, 200);  // " 7"
    EXPECT_EQ(ping("7abc").status, 200);
    EXPECT_EQ(ping("abc").status, 400);
    EXPECT_TRUE(logged(Poco::Message::PRIO_ERROR, "Неправильно задан номер ТРК"));
    EXPECT_EQ(ping("99999999999").status, 400);
    logs.clear();
    EXPECT_EQ(ping("0").status, 400);
    EXPECT_EQ(ping("33").status, 400);
    EXPECT_EQ(logs.texts("fuelweb/ping").back(), "Номер ТРК за пределами допустимого");
}

TEST_F(PingRequest, UnpublishedPumpIsRejected)
{
    pcudata::trkState_clear(seg->pump(20));
    EXPECT_EQ(ping("20").status, 400);
    EXPECT_TRUE(logged(Poco::Message::PRIO_ERROR, "Номер ТРК не соответствует заданному [0/20]"));
}

TEST_F(PingRequest, NozzleLiftedReportsTheProduct)
{
    publish(2, 2).prodCode = 95;
    webtest::httpReply r = ping("2");
    EXPECT_EQ(r.status, 200);
    Poco::JSON::Object::Ptr o = parse(r.body);
    EXPECT_EQ(o->getValue<std::string>("Status"), "TakenRefuelingNozzle");
    EXPECT_EQ(o->getValue<int>("prodcod"), 95);
    EXPECT_EQ(o->getValue<std::string>("Description"), "Исходное состояние ТРК, пистолет снят");
}

TEST_F(PingRequest, BusyPumpWithoutPostPaymentIs404)
{
    trkState_t& rec = publish(4, 7);
    rec.volume = 1000;
    webtest::httpReply r = ping("4");
    EXPECT_EQ(r.status, 404);
    Poco::JSON::Object::Ptr o = parse(r.body);
    EXPECT_EQ(o->getValue<int>("statusId"), 7);
    EXPECT_EQ(o->getValue<std::string>("Description"), "Идет отпуск топлива");
    EXPECT_FALSE(o->has("Litre"));
    EXPECT_FALSE(o->has("Status"));
    publish(4, 42);
    EXPECT_EQ(parse(ping("4").body)->getValue<std::string>("Description"), "Статус ТРК неизвестен");
}

TEST_F(PingRequest, AutocafeIsHiddenWhileFlagE2IsSet)
{
    trkState_t& rec = publish(6);
    rec.autoCafe = 1;
    rec.autoStart = 1;
    rec.flagE2 = 1;
    Poco::JSON::Object::Ptr o = parse(ping("6").body);
    EXPECT_FALSE(o->has("autocafe"));
    EXPECT_EQ(o->getValue<int>("autostart"), 1);
    rec.flagE2 = 0;
    o = parse(ping("6").body);
    EXPECT_EQ(o->getValue<int>("autocafe"), 1);
}

TEST_F(PingRequest, LockCommandsSetAndResetBlocked)
{
    trkState_t& rec = publish(5);
    webtest::httpReply r = ping("5", "&__lock=setLock");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(rec.blocked, 1);
    EXPECT_EQ(rec.lock, pcudata::TRK_LOCK_FREE);
    EXPECT_EQ(parse(r.body)->getValue<int>("blocked"), 1);
    EXPECT_TRUE(logged(Poco::Message::PRIO_INFORMATION, "Получена команда на блокировку ТРК '5'"));
    r = ping("5", "&__lock=resetLock");
    EXPECT_EQ(rec.blocked, 0);
    EXPECT_FALSE(parse(r.body)->has("blocked"));
    EXPECT_TRUE(logged(Poco::Message::PRIO_INFORMATION, "Получена команда на разблокировку ТРК '5'"));
}

TEST_F(PingRequest, LockCommandInOtherCaseIsIgnored)
{
    trkState_t& rec = publish(8);
    ping("8", "&__lock=SETLOCK");
    EXPECT_EQ(rec.blocked, 0);
    for (const std::string& t : logs.texts("fuelweb/ping"))
        EXPECT_EQ(t.find("Получена команда"), std::string::npos);
}

TEST_F(PingRequest, LockHeldElsewhereDropsTheCommandWithAWarning)
{
    pcudata::scaledTimeSource fast(100);
    pcudata::timeSourceGuard guard(&fast);
    trkState_t& rec = publish(9);
    rec.lock = pcudata::TRK_LOCK_HELD;  // the monitor holds it for longer than the wait
    int64_t start = pcudata::timeSrc().nowUs();
    webtest::httpReply r = ping("9", "&__lock=setLock");
    int64_t waited = pcudata::timeSrc().nowUs() - start;
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(rec.blocked, 0);
    EXPECT_EQ(rec.lock, pcudata::TRK_LOCK_HELD);
    EXPECT_GE(waited, 1900000);
    bool warned = false;
    for (const webtest::logLine& l : logs.lines())
        warned |=
            l.prio == Poco::Message::PRIO_WARNING && l.text.find("блокировку ТРК '9'") != std::string::npos;
    EXPECT_TRUE(warned);
}

TEST_F(PingRequest, PostFormFieldsReplaceQueryValues)
{
    publish(11);
    trkState_t& rec = publish(12);
    webtest::httpReply r =
        webtest::httpPost(svc->port(), "/api/fuelweb/ping?apikey=" + KEYS + "&columnId=11",
                          "application/x-www-form-urlencoded", "columnId=12&__lock=setLock");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(rec.blocked, 1);
    EXPECT_TRUE(logged(Poco::Message::PRIO_INFORMATION, "Получен запрос на получение состояния ТРК '12'"));
    // An empty body value keeps the query value.
    r = webtest::httpPost(svc->port(), "/api/fuelweb/ping?apikey=" + KEYS + "&columnId=11",
                          "application/x-www-form-urlencoded", "columnId=");
    EXPECT_TRUE(logged(Poco::Message::PRIO_INFORMATION, "Получен запрос на получение состояния ТРК '11'"));
}

TEST_F(PingRequest, MultipartFormBodyIsReadLikeAnUrlEncodedOne)
{
    trkState_t& rec = publish(13);
    const std::string body =
        "--b1\r\nContent-Disposition: form-data; name=\"columnId\"\r\n\r\n13\r\n"
        "--b1\r\nContent-Disposition: form-data; name=\"__lock\"\r\n\r\nsetLock\r\n--b1--\r\n";
    webtest::httpReply r = webtest::httpPost(svc->port(), "/api/fuelweb/ping?apikey=" + KEYS,
                                             "multipart/form-data; boundary=b1", body);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(rec.blocked, 1);
}

class PingPostpay : public PingBase {
protected:
    static void SetUpTestSuite() { startWith(true); }
};

TEST_F(PingPostpay, DeliveringPumpAnswers410WithoutExtendedIdBeforeATransaction)
{
    trkState_t& rec = publish(4, 7);
    rec.volume = 12345;
    rec.amount = 67890;
    rec.prodCode = 92;
    webtest::httpReply r = ping("4");
    EXPECT_EQ(r.status, 410);
    Poco::JSON::Object::Ptr o = parse(r.body);
    EXPECT_DOUBLE_EQ(o->getValue<double>("Litre"), 12.345);
    EXPECT_DOUBLE_EQ(o->getValue<double>("Sum"), 678.9);
    EXPECT_EQ(o->getValue<int>("prodcod"), 92);
    EXPECT_FALSE(o->has("ExtendedId"));
    rec.trannum = 42;
    EXPECT_EQ(parse(ping("4").body)->getValue<std::string>("ExtendedId"), "42");
}

TEST_F(PingPostpay, IdleAndOffStatesAreNotPostPayment)
{
    publish(2, 2);
    EXPECT_EQ(ping("2").status, 200);
    publish(3, 13);
    EXPECT_EQ(ping("3").status, 404);
    publish(3, 14);
    EXPECT_EQ(ping("3").status, 410);
}

// Pretends that the pump changes state while the handler waits before its second look.
class statusChangeDuringSleep : public pcudata::timeSource {
public:
    statusChangeDuringSleep(trkState_t& rec, int next) : rec(rec), next(next) {}
    void sleepUs(int64_t us) override
    {
        slept += us;
        rec.status = next;
    }
    std::atomic<int64_t> slept{0};

private:
    trkState_t& rec;
    int next;
};

TEST_F(PingPostpay, WaitingForPaymentIsReadTwice)
{
    trkState_t& rec = publish(10, 11);
    statusChangeDuringSleep still(rec, 11);
    {
        pcudata::timeSourceGuard guard(&still);
        EXPECT_EQ(ping("10").status, 411);
    }
    EXPECT_EQ(still.slept, 100000);

    statusChangeDuringSleep paid(rec, 3);
    pcudata::timeSourceGuard guard(&paid);
    webtest::httpReply r = ping("10");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(parse(r.body)->getValue<int>("statusId"), 3);
    EXPECT_EQ(paid.slept, 100000);
}

TEST(PingSegment, UnattachableSegmentAnswers500)
{
    webtest::logCapture logs;
    webtest::runningService svc(webtest::configWith(
        "\"upstream_key\":\"srv\",\"ctl_key\":\"azs\",\"tmp_path\":\"/nonexistent/dir\""));
    testing::internal::CaptureStderr();
    webtest::httpReply r = webtest::httpGet(svc.port(), "/api/fuelweb/ping?apikey=" + KEYS + "&columnId=1");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(r.status, 500);
    EXPECT_TRUE(logs.has("fuelweb/ping", Poco::Message::PRIO_ERROR, "Ошибка получения доступа к SharedMem"));
}

}  // namespace
