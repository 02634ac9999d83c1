// The checks of a /fueling request before its answer: body, keys, fields and the order's tag on
// the pump, with the text answered and the text logged for each refusal.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "testSupport.h"
#include "timeSource.h"
#include "webTestSupport.h"

namespace {

const std::string KEYS = "client,srv,azs";
const std::string GOOD =
    "{\"id\":\"A-1\",\"app_id\":1,\"trk\":3,\"prod\":92,\"price\":52.5,\"volume\":10,\"summa\":525}";

// A pump tagged with order A-1 of "client"; no controller listens.
class FuelingRequest : public ::testing::Test {
protected:
    static std::unique_ptr<webtest::tempDir> dir;
    static std::unique_ptr<webtest::segmentView> seg;
    static std::unique_ptr<webtest::runningService> svc;

    static void SetUpTestSuite()
    {
        dir = std::make_unique<webtest::tempDir>();
        seg = std::make_unique<webtest::segmentView>(dir->keyFile());
        svc = std::make_unique<webtest::runningService>(
            webtest::configWith("\"upstream_key\":\"srv\",\"ctl_key\":\"azs\",\"tmp_path\":\"" + dir->path() +
                                "\",\"ctl_port\":" + std::to_string(testsupport::closedPort())));
    }
    static void TearDownTestSuite()
    {
        svc.reset();
        seg.reset();
        dir.reset();
    }
    void SetUp() override
    {
        pcudata::trkState_t& rec = seg->publish(3, 10);
        std::strcpy(rec.orderId, "A-1");
        std::strcpy(rec.clientKey, "client");
        rec.tagged = 1;
    }

    pcudata::scaledTimeSource fast{100};
    pcudata::timeSourceGuard guard{&fast};
    webtest::logCapture logs;

    webtest::httpReply post(const std::string& body, const std::string& keys = KEYS)
    {
        return webtest::httpPost(svc->port(), "/api/fuelweb/fueling?apikey=" + keys, "application/json",
                                 body);
    }
};
std::unique_ptr<webtest::tempDir> FuelingRequest::dir;
std::unique_ptr<webtest::segmentView> FuelingRequest::seg;
std::unique_ptr<webtest::runningService> FuelingRequest::svc;

std::string with(const std::string& member, const std::string& value)
{
    std::string body = GOOD;
    size_t at = body.find("\"" + member + "\":");
    size_t end = body.find_first_of(",}", at);
    return body.substr(0, at) + "\"" + member + "\":" + value + body.substr(end);
}

TEST_F(FuelingRequest, RefusalsAnswerTheirTextAndLogTheirReason)
{
    const std::string LONG_ID = "Номер заказа длиннее 119 байт (поле id)";
    const std::string LONG_KEY = "Ключ приложения длиннее 119 байт (первая часть apikey)";
    struct row {
        std::string body;
        std::string keys;
        int status;
        std::string msg;
        std::string logged;
    } rows[] = {
        {"", KEYS, 500, "Ошибка в данных заказа при пуске ТРК", "Ошибка в данных заказа при пуске ТРК"},
        {"{\"id\":", KEYS, 500, "Ошибка в данных заказа при пуске ТРК",
         "Ошибка в данных заказа при пуске ТРК"},
        {"null", KEYS, 412, "Отсутствуют данные для пуска ТРК", "Отсутствуют данные для пуска ТРК"},
        {GOOD, ",srv,azs", 401, "Ошибка авторизации АЗС", "Ошибка авторизации (ключ приложения)"},
        {GOOD, "client,xx,azs", 401, "Ошибка авторизации АЗС", "Ошибка авторизации (ключ сервера)"},
        {GOOD, "client,srv", 401, "Ошибка авторизации АЗС", "Ошибка авторизации (ключ АЗС)"},
        {with("id", "\"\""), KEYS, 400, "Не верно задан номер заказа", "Не верно задан номер заказа"},
        {with("app_id", "0"), KEYS, 400, "Не верно задан номер заказа", "Не верно задан номер заказа"},
        {with("trk", "0"), KEYS, 400, "Неверно указан номер ТРК",
         "Номер ТРК за пределами допустимых значений"},
        {with("trk", "33"), KEYS, 400, "Неверно указан номер ТРК",
         "Номер ТРК за пределами допустимых значений"},
        {with("trk", "\"3\""), KEYS, 400, "Неверно указан номер ТРК",
         "Номер ТРК за пределами допустимых значений"},
        {with("prod", "0"), KEYS, 400, "Неверно указан продукт", "Неверно указан продукт"},
        {with("price", "0.004"), KEYS, 402, "Не указана цена продукта",
         "Неверно указаны цена/объем/сумма заказа"},
        {with("volume", "0.0004"), KEYS, 402, "Не указан объем заказа",
         "Неверно указаны цена/объем/сумма заказа"},
        {with("summa", "0"), KEYS, 402, "Не указана cумма заказа", "Неверно указаны цена/объем/сумма заказа"},
        // Negative or endless once in kopecks: never sent to the controller.
        {with("price", "-52.5"), KEYS, 402, "Не указана цена продукта",
         "Неверно указаны цена/объем/сумма заказа"},
        {with("volume", "1e308"), KEYS, 402, "Не указан объем заказа",
         "Неверно указаны цена/объем/сумма заказа"},
        {with("summa", "-0.01"), KEYS, 402, "Не указана cумма заказа",
         "Неверно указаны цена/объем/сумма заказа"},
        {with("id", "\"A-2\""), KEYS, 400, "Номер заказа на ТРК указан неверно",
         "Номер заказа на ТРК указан неверно"},
        {GOOD, "other,srv,azs", 400, "Ошибка в данных заказа (неизвестное приложение)",
         "Идентификатор приложения не соответствует указанному в заказе"},
        {with("trk", "4"), KEYS, 400, "Номер заказа на ТРК указан неверно",
         "Номер заказа на ТРК указан неверно"},
        {GOOD, KEYS + ",fourth", 404, "Нет связи с ТРК", "Отсутствует соединение с сокетом"},
        // The pump's record keeps 119 bytes of each: a longer one could never be found there.
        {with("id", "\"" + std::string(120, 'x') + "\""), KEYS, 400, LONG_ID, LONG_ID},
        {GOOD, std::string(120, 'k') + ",srv,azs", 400, LONG_KEY, LONG_KEY},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.body + " / " + r.keys);
        logs.clear();
        webtest::httpReply reply = post(r.body, r.keys);
        EXPECT_EQ(reply.status, r.status);
        EXPECT_EQ(reply.body, "{\"msg\":\"" + r.msg + "\"}");
        EXPECT_EQ(reply.contentType, "application/json");
        EXPECT_TRUE(logs.has("fuelweb/fueling", Poco::Message::PRIO_ERROR, r.logged));
    }
}

TEST_F(FuelingRequest, OtherMethodsAndUntaggedPumps)
{
    webtest::httpReply get = webtest::httpGet(svc->port(), "/api/fuelweb/fueling?apikey=" + KEYS);
    EXPECT_EQ(get.status, 412);
    EXPECT_EQ(get.body, "{\"msg\":\"Отсутствуют данные для пуска ТРК\"}");

    // A record whose pump number is not the one asked for (here: never published).
    pcudata::trkState_t& rec = seg->pump(5);
    pcudata::trkState_clear(rec);
    std::strcpy(rec.orderId, "A-1");
    std::strcpy(rec.clientKey, "client");
    webtest::httpReply r = post(with("trk", "5"));
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.body, "{\"msg\":\"Номер ТРК не соответствует заданному\"}");
    EXPECT_TRUE(
        logs.has("fuelweb/fueling", Poco::Message::PRIO_DEBUG,
                 "Данные заказа [ {\"app_id\":1,\"id\":\"A-1\",\"price\":52.5,\"prod\":92,\"summa\":525,"
                 "\"trk\":5,\"volume\":10} ]"));
    post(with("id", "\"B-9\""));
    EXPECT_TRUE(logs.has("fuelweb/fueling", Poco::Message::PRIO_DEBUG,
                         "Данные заказа (ptr ='A-1' ord= 'B-9' tr='-1'"));
}

}  // namespace
