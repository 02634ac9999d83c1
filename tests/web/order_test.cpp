// /order up to the controller: the stages of the request in their order, the field checks, and the
// admission of the order by the pump's record, published by hand.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include "orderTestSupport.h"
#include "stationRig.h"

using ordertest::json;
using ordertest::orderBody;
using ordertest::postpay;
using ordertest::unpaid;
using pcudata::trkState_t;

namespace {

const std::string LOGGER = "fuelweb/order";
const int ERROR = Poco::Message::PRIO_ERROR;

// Body before keys, keys before fields; a failed key is named in the log only.
TEST(Order, StagesAnswerInTheirOrder)
{
    webtest::stationRig rig;
    struct row {
        std::string method, body, apikey;
        int code;
        std::string msg, logged;
    } rows[] = {
        {"GET", orderBody(), webtest::stationRig::APIKEY, 412, "Отсутствуют данные заказа", ""},
        {"POST", "null", webtest::stationRig::APIKEY, 412, "Отсутствуют данные заказа", ""},
        {"POST", "", "", 500, "Ошибка получения данных заказа", ""},
        {"POST", "{\"id\":", "", 500, "Ошибка получения данных заказа", ""},
        {"POST", orderBody({{"trk", "0"}}), "client,srv", 401,
         "Ошибка подключения к АЗС (не прошла проверка авторизации)", "Ошибка авторизации (ключ АЗС)"},
        {"POST", orderBody(), ",srv,azs", 401, "Ошибка подключения к АЗС (не прошла проверка авторизации)",
         "Ошибка авторизации (ключ приложения)"},
        {"POST", orderBody(), "client,azs,azs", 401,
         "Ошибка подключения к АЗС (не прошла проверка авторизации)", "Ошибка авторизации (ключ сервера)"},
    };
    for (const row& r : rows) {
        webtest::httpReply reply = rig.send(r.method, "/order", r.body, r.apikey);
        EXPECT_EQ(reply.status, r.code) << r.method << " " << r.body << " " << r.apikey;
        EXPECT_EQ(reply.body, "{\"msg\":\"" + r.msg + "\"}");
        EXPECT_EQ(reply.contentType, "application/json");
        EXPECT_EQ(reply.contentLanguage, "ru");
        EXPECT_TRUE(rig.logs.has(LOGGER, ERROR, r.logged.empty() ? r.msg : r.logged)) << r.msg;
    }
    EXPECT_TRUE(rig.pcu.receivedControlLines().empty());
}

// Fields are checked in their order, after their types and decimals; a negative or endless amount
// counts as a missing one.
TEST(Order, FieldChecks)
{
    webtest::stationRig rig;
    const std::string noNumber = "Неправильно указан номер заказа",
                      noPump = "Номер ТРК за пределами допустимых значений",
                      amounts = "Неверно указаны цена/объем/сумма заказа",
                      longId = "Номер заказа длиннее 119 байт (поле id)";
    struct row {
        std::vector<std::pair<std::string, std::string>> changes;
        int code;
        std::string msg, logged;
    } rows[] = {
        {{{"id", ""}}, 400, "Отсутствует номер заказа", noNumber},
        {{{"app_id", "0"}}, 400, "Отсутствует номер заказа", noNumber},
        {{{"trk", "\"3\""}}, 400, "Неверный номер ТРК", noPump},
        {{{"trk", "33"}}, 400, "Неверный номер ТРК", noPump},
        {{{"trk", "1.5"}}, 400, "Неверный номер ТРК", noPump},
        {{{"prod", "0"}}, 400, "Неверно указан продукт", "Неверно указан продукт"},
        {{{"price", "0.004"}}, 402, "Не указана цена продукта", amounts},
        {{{"volume", "0.0004"}}, 402, "Не указан объем заказа", amounts},
        {{{"summa", "\"525\""}}, 402, "Не указана cумма заказа", amounts},
        {{{"price", "0"}, {"volume", "0"}, {"summa", "0"}}, 402, "Не указана цена продукта", amounts},
        {{{"volume", "-10"}}, 402, "Не указан объем заказа", amounts},
        {{{"price", "-52.5"}}, 402, "Не указана цена продукта", amounts},
        {{{"summa", "-525"}}, 402, "Не указана cумма заказа", amounts},
        {{{"price", "1e308"}}, 402, "Не указана цена продукта", amounts},  // endless once in kopecks
        // The pump's record keeps 119 bytes of an order id: a longer one could never be found there.
        {{{"id", "\"" + std::string(120, 'x') + "\""}}, 400, longId, longId},
        {{{"id", "\"" + std::string(119, 'x') + "\""}, {"trk", "33"}}, 400, "Неверный номер ТРК", noPump},
    };
    for (const row& r : rows) {
        rig.logs.clear();
        webtest::httpReply reply = rig.post("/order", orderBody(r.changes));
        EXPECT_EQ(reply.status, r.code) << r.msg;
        EXPECT_EQ(reply.body, "{\"msg\":\"" + r.msg + "\"}");
        EXPECT_TRUE(rig.logs.has(LOGGER, ERROR, r.logged)) << r.msg;
    }
    // The client key goes into the record too.
    webtest::httpReply longKey = rig.post("/order", orderBody(), std::string(120, 'k') + ",srv,azs");
    EXPECT_EQ(longKey.status, 400);
    EXPECT_EQ(longKey.body, "{\"msg\":\"Ключ приложения длиннее 119 байт (первая часть apikey)\"}");
    EXPECT_TRUE(rig.pcu.receivedControlLines().empty());
    // Pump 32 is a valid number (3.0 an integral one); they fail only at the pump's record, which
    // the running monitor has not published.
    rig.publish(1);
    for (const char* trk : {"32", "3.0"}) {
        webtest::httpReply reply = rig.post("/order", orderBody({{"trk", trk}}));
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(reply.body, "{\"msg\":\"Номер ТРК не соответствует указанному\",\"stat\":-1}");
    }
}

TEST(Order, PumpTableOutOfReach)
{
    webtest::rigOptions o;
    o.fuelweb["tmp_path"] = "\"/nonexistent/fuelweb\"";
    webtest::stationRig rig(o);
    webtest::httpReply reply = rig.post("/order", orderBody());
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.body, "{\"msg\":\"Программная ошибка АЗС\"}");
    EXPECT_TRUE(rig.logs.has(LOGGER, ERROR, "Ошибка доступа к разделяемой памяти"));
}

TEST(Order, AdmissionByPumpStatus)
{
    webtest::stationRig rig;
    const std::string delivering =
        "ТРК занята. Идет отпуск топлива. Дождитесь завершения и повторите заказ с указанием полученного "
        "объема";
    struct row {
        int status;
        std::string msg;
    } rows[] = {
        {-1, "Нет связи с ТРК"},
        {0, "Нет связи с ТРК"},
        {1, "Нет связи с ТРК"},
        {4, delivering},
        {9, delivering},
        {10, "ТРК занята. (Идет работа с кассой, карточным терминалом, ТСО)"},
        {12, "ТРК занята"},
        {13, "ТРК выключена"},
        {14,
         "ТРК остановлена, для окончания заправки требуется повесить пистолет. Повторите заказ после "
         "завершения отпуска"},
        {15, "ТРК занята"},
        {16, "ТРК заблокирована"},
        {42, "ТРК занята"},
    };
    for (const row& r : rows) {
        rig.publish(1, r.status);
        webtest::httpReply reply = rig.post("/order", orderBody());
        EXPECT_EQ(reply.status, 400) << r.status;
        EXPECT_EQ(reply.body, "{\"msg\":\"" + r.msg + "\",\"stat\":" + std::to_string(r.status) + "}");
    }
    EXPECT_TRUE(rig.logs.has(LOGGER, ERROR, "ТРК выключена"));

    pcudata::trkState_clear(rig.pump(1));  // never published
    EXPECT_EQ(json(rig.post("/order", orderBody()).body)->getValue<std::string>("msg"),
              "Номер ТРК не соответствует указанному");
    rig.publish(1).autoCafe = 1;
    EXPECT_EQ(json(rig.post("/order", orderBody()).body)->getValue<std::string>("msg"),
              "На ТРК установлен режим запрета оплаты с использованием приложения");
    rig.publish(1).blocked = 1;
    EXPECT_EQ(json(rig.post("/order", orderBody()).body)->getValue<std::string>("msg"), "ТРК заблокирована");
    EXPECT_TRUE(rig.pcu.receivedControlLines().empty());
}

TEST(Order, PaymentOfADeliveryOnAnIdlePump)
{
    webtest::stationRig rig;
    for (const auto& change :
         std::vector<std::pair<std::string, std::string>>{{"ExtendedId", "\"101\""}, {"PostPay", "true"}}) {
        rig.publish(1, 2);
        webtest::httpReply reply = rig.post("/order", orderBody({change}));
        EXPECT_EQ(reply.status, 404);
        EXPECT_EQ(reply.body,
                  "{\"msg\":\"Попытка оплаты предыдущего отпуска. Повторите заказ.\",\"stat\":2}");
    }
}

// An order on a pump that waits for payment must name the delivery exactly.
TEST(Order, PostPaymentAdmission)
{
    const std::string busy = "ТРК занята. Не закончен расчет по предыдущему отпуску.(Обратитесь к оператору)",
                      till = "Уже идет обслуживание на кассе др. клиента";
    struct row {
        std::function<void(trkState_t&)> edit;
        std::vector<std::pair<std::string, std::string>> changes;
        std::string msg;
    } rows[] = {
        {[](trkState_t&) {}, {{"ExtendedId", ""}, {"PostPay", "true"}}, busy},
        {[](trkState_t& r) { r.presetFlags = 0; }, {}, busy},
        {[](trkState_t& r) { r.trannum = 0; }, {{"ExtendedId", "\"0\""}}, busy},
        {[](trkState_t&) {}, {{"ExtendedId", "\"102\""}}, "ТРК занята. (идет расчет с др. клиентом)"},
        {[](trkState_t&) {}, {{"prod", "95"}}, "Продукт не соответствует указанному в заказе"},
        {[](trkState_t& r) { r.lockType = 1, r.lockWplace = 7; }, {}, till},
        {[](trkState_t& r) { r.needPayFlag = 0; }, {}, till},
    };
    webtest::stationRig rig(postpay());
    for (row& r : rows) {
        r.edit(unpaid(rig, 1));
        r.changes.insert(r.changes.begin(), {"ExtendedId", "\"101\""});
        webtest::httpReply reply = rig.post("/order", orderBody(r.changes));
        EXPECT_EQ(reply.status, 404) << r.msg;
        EXPECT_EQ(reply.body, "{\"msg\":\"" + r.msg + "\",\"stat\":11}");
    }
    EXPECT_TRUE(rig.logs.has(LOGGER, Poco::Message::PRIO_DEBUG, "Р.М.=7 LockType = 1 Need Pay Flag = 1"));

    webtest::stationRig closed;  // post-payment not allowed
    unpaid(closed, 1);
    EXPECT_EQ(closed.post("/order", orderBody({{"ExtendedId", "\"101\""}})).body,
              "{\"msg\":\"Режим постоплаты заблокирован на АЗС\",\"stat\":11}");
}

// Ordered 10 l: what was delivered must lie within the station's tolerance. The controller's
// driver (version 1) knows no payment lock, so an accepted order locks nothing.
TEST(Order, PostPaymentVolumeTolerance)
{
    const std::string repeat =
        "Объем заказа не соответствует фактически отпущенному. Повторите заказ указав объем ";
    struct row {
        std::string underfill, overfill;
        int64_t deliveredMl;
        int code;
        std::string msg;
    } rows[] = {
        {"-1.0", "0", 9000, 200, "Заказ принят (постоплата)."},
        {"-1.0", "0", 10000, 200, "Заказ принят (постоплата)."},
        {"-1.0", "0", 10200, 404, repeat + "11л."},
        {"-1.0", "0", 5, 404,
         "ТРК завершила работу. Отпуск отсутствует.(обратитесь к оператору для освобождения ТРК)"},
        {"-1.0", "0.3", 10200, 200, "Заказ принят (постоплата)."},
        {"0.5", "0", 9500, 200, "Заказ принят (постоплата)."},
        {"0.5", "0", 9000, 404, repeat + "10л."},
    };
    std::unique_ptr<webtest::stationRig> rig;  // one per tolerance setting
    std::string setting;
    for (const row& r : rows) {
        if (setting != r.underfill + "/" + r.overfill) {
            setting = r.underfill + "/" + r.overfill;
            rig.reset();
            rig = std::make_unique<webtest::stationRig>(postpay(r.underfill, r.overfill));
        }
        unpaid(*rig, 1, r.deliveredMl);
        webtest::httpReply reply = rig->post("/order", orderBody({{"ExtendedId", "\"101\""}}));
        EXPECT_EQ(reply.status, r.code) << r.deliveredMl;
        EXPECT_EQ(json(reply.body)->getValue<std::string>("msg"), r.msg) << r.deliveredMl;
        EXPECT_EQ(rig->pump(1).tagged, r.code == 200 ? 1 : 0);
    }
    EXPECT_TRUE(rig->pcu.receivedCommands("WPWRK").empty());
}

// The status of a pump waiting for payment is read again a second later; the new one decides.
TEST(Order, PaymentSettledMeanwhile)
{
    struct row {
        int then;
        int code;
        std::string msg;
    } rows[] = {
        {3, 404, "Попытка оплаты предыдущего отпуска. Повторите заказ."},
        {10, 400, "ТРК занята. (Идет работа с кассой, карточным терминалом, ТСО)"},
    };
    for (const row& r : rows) {
        webtest::stationRig rig(postpay());
        trkState_t& rec = unpaid(rig, 1);
        rig.clock.onPause(1000000, [&rec, &r] { rec.status = r.then; });
        webtest::httpReply reply = rig.post("/order", orderBody({{"ExtendedId", "\"101\""}}));
        EXPECT_EQ(reply.status, r.code);
        EXPECT_EQ(reply.body, "{\"msg\":\"" + r.msg + "\",\"stat\":" + std::to_string(r.then) + "}");
        EXPECT_TRUE(rig.pcu.receivedControlLines().empty());
    }
}

}  // namespace
