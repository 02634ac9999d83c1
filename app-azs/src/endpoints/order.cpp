#include "order.h"

#include <cmath>
#include <cstring>

#include "journal.h"
#include "stationMetrics.h"
#include "str.h"
#include "trkLock.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

constexpr int32_t PRICE_UNKNOWN = 18;  // the controller knows no such product or payment kind

}  // namespace

order::order(const endpointContext& ctx) : master(ctx), log(Poco::Logger::get(_lm))
{
    route("^/order(/?)$", &order::get_order, this);
}

void order::get_order(httpContext& ctx)
{
    run r;
    r.ctx = &ctx;
    const std::string apikey = r.ctx->get("apikey");
    std::string logText;  // what the log says beyond the answer
    poco_information(log, "Принят запрос на новый заказ");
    jsonBody body;
    int parseErr = 0;
    if (r.ctx->method() == "POST") parseErr = body.parse(r.ctx->rawBody());
    r.ans.set("msg", "Заказ принят");
    answerHeaders(*r.ctx);

    try {  // A: the body
        checkBody(parseErr, body);
    } catch (const ExceptionHTTP& e) {
        refuse(r, e, logText);
        return;
    }
    log.debug("Данные заказа [ " + body.text() + " ]");

    r.keys = apiKeys::parse(apikey, apiKeys::withClient);
    try {  // B: the keys; the caller is not told which one failed
        requireOrderKeys(r.keys);
    } catch (const ExceptionHTTP& e) {
        poco_error(log, e.what());
        r.ans.set("msg", "Ошибка подключения к АЗС (не прошла проверка авторизации)");
        finish(r, e.response_code());
        return;
    }

    r.req = orderRequest::read(body);
    r.journaled = true;
    try {  // C: the fields
        checkFields(r.req, r.keys.client, logText);
    } catch (const ExceptionHTTP& e) {
        refuse(r, e, logText);
        return;
    }

    if (!pumpTable()) {
        poco_error(log, "Ошибка доступа к разделяемой памяти");
        r.ans.set("msg", "Программная ошибка АЗС");
        finish(r, 500);
        return;
    }

    if (repeated(r)) return;

    bool settlement = false;
    try {  // D: the pump's state
        r.rec = pcu().getTrkState(r.req.trk);
        settlement = admission().admit(r.rec, r.req);
    } catch (const ExceptionHTTP& e) {
        poco_error(log, e.what());
        answerAtPump(r, e.what(), e.response_code());
        return;
    }
    journal(r, state::journal::ADMITTED, 0, settlement ? "постоплата" : "резервирование");

    place(r, settlement);
}

void order::checkBody(int parseErr, const jsonBody& body)
{
    if (parseErr != 0) throw ExceptionHTTP("Ошибка получения данных заказа", 500);
    if (!body.present()) throw ExceptionHTTP("Отсутствуют данные заказа", 412);
}

void order::checkFields(const orderRequest& req, const std::string& clientKey, std::string& logText)
{
    if (req.id.empty() || req.app_id < 1) {
        logText = "Неправильно указан номер заказа";
        throw ExceptionHTTP("Отсутствует номер заказа", 400);
    }
    requireRecordWidths(req.id, clientKey);
    if (req.trk < 1 || req.trk > pcudata::TRK_COUNT) {
        logText = "Номер ТРК за пределами допустимых значений";
        throw ExceptionHTTP("Неверный номер ТРК", 400);
    }
    if (req.prod < 1) {
        logText = "Неверно указан продукт";
        throw ExceptionHTTP("Неверно указан продукт", 400);
    }
    if (amountGiven(req.price) && amountGiven(req.volume) && amountGiven(req.summa)) return;
    logText = "Неверно указаны цена/объем/сумма заказа";
    if (!amountGiven(req.price)) throw ExceptionHTTP("Не указана цена продукта", 402);
    if (!amountGiven(req.volume)) throw ExceptionHTTP("Не указан объем заказа", 402);
    // The first letter of "cумма" is a Latin c: the platform knows the text as it is.
    throw ExceptionHTTP("Не указана cумма заказа", 402);
}

bool order::numberOf(const pcudata::cntlMsgResult& res, const std::string& name, int32_t& out)
{
    out = 0;
    for (const pcudata::cntlMsgEm& em : res.vlist)
        if (em.name == name && !em.value.empty()) return pcudata::str::_stoi(em.value, out) == 0;
    return true;
}

orderAdmission order::admission()
{
    orderAdmission::limits lim;
    lim.postpayAllowed = pcu().postpay_allow();
    lim.overfill = pcu().get_overfill_order();
    lim.underfill = pcu().get_underfill_order();
    return orderAdmission(log, lim, pcu());
}

// The platform sends an order again when the answer to it was lost. The pump that holds the order
// (tagged with its id for the same client) answers as it did the first time, and is neither
// reserved again nor refused as busy with its own order.
bool order::repeated(run& r)
{
    pcudata::trkState_t* rec = pcu().getTrkState(r.req.trk);
    // A first look without the lock; only a pump that seems to hold this order is locked.
    if (rec == nullptr || peek(rec->trk) != r.req.trk || peek(rec->tagged) != 1 ||
        pcudata::fieldText(rec->orderId) != r.req.id)
        return false;
    pcudata::trkLock lock(pcu(), rec);
    if (!lock || rec->tagged != 1 || r.req.id != rec->orderId || r.keys.client != rec->clientKey)
        return false;
    const int32_t trannum = rec->trannum;
    const time_t tagTime = rec->tagTime;
    lock.release();

    r.rec = rec;
    poco_information(log, "Повторный заказ '" + r.req.id + "' для ТРК " + std::to_string(r.req.trk) +
                              ": заказ уже на ТРК, ответ как на первый запрос");
    const bool settled =
        r.req.postPay && pcu().statusOf(rec) == st::NEED_PAY && r.req.extendedId == std::to_string(trannum);
    journal(r, state::journal::REPEATED, 200,
            settled ? "постоплата" : "транзакция " + std::to_string(trannum));
    r.journaled = false;  // the first request's rows tell the rest
    if (settled) {
        r.ans.set("msg", "Заказ принят (постоплата).");
        r.ans.set("litre", pcudata::str::dbl2str(static_cast<double>(peek(rec->volume)) / 1000.0, 3));
        r.ans.set("extendedOrderId", r.req.extendedId);
        r.ans.set("extendedDate", upstream::notices::_makeExtDate(tagTime));
        r.ans.set("orderStatus", "Completed");
        finish(r, 200);
        return true;
    }
    r.ans.set("trannum", trannum);
    r.ans.set("timeset", upstream::notices::_makeExtDate(tagTime));
    answerAtPump(r, "Заказ зарегистрирован", 200);
    return true;
}

// The admitted order with the controller: a session of its own, the workplace registered, the
// price agreed, then the road that the pump's state calls for.
void order::place(run& r, bool settlement)
{
    if (!openSession(r) || !registerWorkplace(r) || !checkPrice(r)) return;
    if ((pcu().statusOf(r.rec) == st::NEED_PAY) != settlement) {
        roadChanged(r, settlement);
        return;
    }
    if (settlement) {
        settle(r);
    } else {
        reserve(r);
    }
}

bool order::openSession(run& r)
{
    r.session = newSession();
    if (!r.session) {
        poco_error(log, "Не удалось создать новое соединени с сокетом");
        r.ans.set("msg", "Ошибка подключения к управлению ТРК");
        finish(r, 500);
        return false;
    }
    r.session->__try_Ctl_Available(3);
    if (!r.session->isConnected()) {
        poco_error(log, "Ошибка подключения к контролеру управления");
        r.ans.set("msg", "Нет связи с ТРК");
        finish(r, 500);
        return false;
    }
    return true;
}

bool order::registerWorkplace(run& r)
{
    pcudata::cmdMsgResult_clear(r.res);
    if (r.session->is_registered()) return true;
    int got = r.session->register_wrkplace(r.res, r.err);
    log.debug("результат регистрация рабочего места [ res=" + std::to_string(got) + " ]");
    if (r.res.Res == 1) return true;
    poco_error(log, "Ошибка регистрации рабочего места");
    controllerFailure(r, "Ошибка подключения к ТРК", "REGM", 404);
    return false;
}

// The order's price must be the one the controller charges now for the product and payment kind.
bool order::checkPrice(run& r)
{
    r.pmt = pcu().get_paymnt(r.req.contract);
    pcudata::cmdMsgResult_clear(r.res);
    r.session->get_price(r.res, r.err, r.req.prod, r.pmt);
    if (r.res.Res != 1) {
        const char* text = r.res.Res == PRICE_UNKNOWN ? "Неверные данные по продукту или платежной системе"
                                                      : "Ошибка получения цены на продукт";
        poco_error(log, text);
        controllerFailure(r, text, "GETPRS", 402);
        return false;
    }
    int32_t prs = 0;  // hundredths
    int32_t prd = 0;
    const bool readable = numberOf(r.res, "PRS", prs) && numberOf(r.res, "PRD", prd);
    if (readable && r.req.price == prs / 100.0) return true;
    const char* text = "Цена в заказе не соответствует установленной на АЗС";
    poco_error(log, text);
    r.ans.set("action", "CHPRS");
    r.ans.set("prd", prd);
    r.ans.set("prs", prs);
    controllerFailure(r, text, "GETPRS", 402);
    return false;
}

// The pump has left the state the order was admitted in while the price was agreed: a delivery
// that no longer waits for payment can't be paid, and a pump that now waits for payment can't be
// reserved; the order is refused as it would be now.
void order::roadChanged(run& r, bool settlement)
{
    const char* text = settlement
                           ? "Попытка оплаты предыдущего отпуска. Повторите заказ."
                           : "ТРК занята. Не закончен расчет по предыдущему отпуску.(Обратитесь к оператору)";
    poco_error(log, text);
    answerAtPump(r, text, 404);
}

// Stages A and C: the log may say more than the answer.
void order::refuse(run& r, const ExceptionHTTP& e, const std::string& logText)
{
    poco_error(log, logText.empty() ? e.what() : logText);
    r.ans.set("msg", e.what());
    finish(r, e.response_code());
}

// An answer about a known pump carries its status as it is now.
void order::answerAtPump(run& r, const std::string& text, int code)
{
    r.ans.set("msg", text);
    if (r.rec != nullptr) r.ans.set("stat", pcu().statusOf(r.rec));
    finish(r, code);
}

// A command the controller did not carry out: what it answered, for the platform's engineers.
void order::controllerFailure(run& r, const std::string& text, const char* command, int code)
{
    r.ans.set("res", r.res.Res);
    r.ans.set("cmd", r.res.Cmd.empty() ? std::string(command) : r.res.Cmd);
    r.ans.set("err", r.err);
    if (!r.res.tcod.empty()) r.ans.set("tcod", r.res.tcod);
    if (!r.res.txt.empty()) r.ans.set("txt", r.res.txt);
    answerAtPump(r, text, code);
}

// Every answer ends the request; the controller session is given back first. A refusal goes into
// the order's journal with its text before the answer leaves: the platform's next request about
// the order may come the moment it has the answer, and its decisions must follow this one.
void order::finish(run& r, int code)
{
    if (r.session) {
        r.session->close();
        r.session.reset();
    }
    if (code != 200) {
        journal(r, state::journal::REFUSED, code, r.ans.getValue<std::string>("msg"));
        stationMetrics::orderRefused(code);
    }
    answer(*r.ctx, code, r.ans);
}

void order::journal(const run& r, const char* kind, int64_t code, const std::string& text)
{
    if (!r.journaled) return;
    const int pump = r.req.trk >= 1 && r.req.trk <= pcudata::TRK_COUNT ? r.req.trk : 0;
    state::journal::record(r.req.id, pump, kind, code, text);
}

}  // namespace azs_apps
