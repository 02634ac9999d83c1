#include "notices.h"

#include <cstdio>
#include <memory>

#include "serviceStop.h"
#include "storedNotice.h"
#include "str.h"
#include "timeSource.h"

namespace azs_apps {
namespace upstream {

namespace {

using pcudata::SECOND_US;
constexpr int64_t ATTEMPT_PAUSE_US = 1 * SECOND_US;
constexpr int64_t SERIES_PAUSE_US = 60 * SECOND_US;

std::string sixDecimals(double v)
{
    return std::to_string(v);  // "%f"
}

}  // namespace

// Path, time-out, logger and log texts of one kind of notice.
struct notices::notice {
    const char* path;
    long timeoutSec;
    const char* logger;
    const char* sending;
    const char* failed;
    const char* answered;
};

namespace {

const char* const HEADERS[] = {"Content-encoding: UTF-8", "charset: utf-8", "Content-language: ru"};

}  // namespace

std::string percentEncoded(const std::string& value, bool (*special)(unsigned char))
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (unsigned char c : value) {
        if (!special(c)) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 0x0F];
    }
    return out;
}

std::string formValue(const std::string& value)
{
    return percentEncoded(value, [](unsigned char c) {
        return c == '&' || c == '=' || c == '+' || c == '%' || c < 0x20 || c == 0x7F;
    });
}

notices::notices(settings target, const std::string& callerLogger)
    : target(std::move(target)), callerLog(Poco::Logger::get(callerLogger))
{
}

int64_t notices::send(const notice& n, const std::string& orderId, const std::string& body)
{
    Poco::Logger& log = Poco::Logger::get(n.logger);
    if (target.endpoint.empty()) {
        poco_error(log, "Не указан URL");
        return 503;
    }
    if (globalInit() != 0) {
        poco_error(log, "Ошибка инициализации GLOBAL DEFAULT [err=" + std::to_string(globalInit()) +
                            " descr='" + globalInitError() + "']");
        return 500;
    }
    postRequest req;
    req.url = target.endpoint + n.path;
    req.body = body;
    req.timeoutSec = n.timeoutSec;
    req.kind = n.path;
    req.headers.assign(std::begin(HEADERS), std::end(HEADERS));

    poco_information(log, std::string(n.sending) + orderId + "')");
    log.debug("url " + req.url + " postdata ['" + body + "']");
    postResult r = post(req, target);
    if (r.result == postResult::noHandle) log.debug("Ошибка инициализации");
    if (r.result == postResult::transferFailed) {
        poco_error(log, std::string(n.failed) + orderId + "') [err=" + std::to_string(r.curlCode) +
                            " descr='" + r.error + "']");
    }
    if (r.result != postResult::answered) return r.status;
    poco_information(log, std::string(n.answered) + orderId + "') [" + std::to_string(r.status) + "]");
    if (!r.answer.empty()) log.debug("Ответ платформы: " + r.answer);
    return r.status;
}

int64_t notices::_cancel_order(const std::string& apikey, const std::string& orderId,
                               const std::string& reason)
{
    static const notice n{"/canceled",
                          10,
                          "fuelweb/_cancel",
                          "Отправка статуса отмены (заказ '",
                          "Ошибка передачи статуса отмены (заказ '",
                          "Получен ответ для статуса отмены (заказ '"};
    return send(
        n, orderId,
        "apikey=" + formValue(apikey) + "&orderId=" + formValue(orderId) + "&reason=" + formValue(reason));
}

int64_t notices::_complete_order(const std::string& apikey, const std::string& orderId,
                                 const std::string& extOrderId, const std::string& extDate, double volume)
{
    static const notice n{"/completed",
                          10,
                          "fuelweb/_complete",
                          "Отправка статуса завершения (заказ '",
                          "Ошибка передачи статуса завершения (заказ '",
                          "Получен ответ для статуса завершения (заказ '"};
    return send(n, orderId,
                "apikey=" + formValue(apikey) + "&orderId=" + formValue(orderId) +
                    "&litre=" + pcudata::str::dbl2str(volume, 2) +
                    "&extendedOrderId=" + formValue(extOrderId) + "&extendedDate=" + formValue(extDate));
}

int64_t notices::_volume_order(const std::string& apikey, const std::string& orderId, double volume)
{
    static const notice n{"/volume",
                          3,
                          "fuelweb/_volume",
                          "Отправка счетчика налива (заказ '",
                          "Ошибка передачи счетчика налива  (заказ '",
                          "Получен ответ для счетчика налива  (заказ '"};
    return send(
        n, orderId,
        "apikey=" + formValue(apikey) + "&orderid=" + formValue(orderId) + "&litre=" + sixDecimals(volume));
}

int64_t notices::_notify_client(const std::string& apikey, const std::string& orderId,
                                const std::string& message)
{
    // "cообщения" in the error text starts with a Latin c.
    static const notice n{"/message",
                          3,
                          "fuelweb/_notify",
                          "Отправка сообщения клиенту (заказ '",
                          "Ошибка передачи cообщения клиенту (заказ '",
                          "Получен ответ на отправку сообщения клиенту (заказ '"};
    return send(
        n, orderId,
        "apikey=" + formValue(apikey) + "&orderid=" + formValue(orderId) + "&msg=" + formValue(message));
}

template <class Attempt>
bool notices::repeat(const std::string& what, storedNotice& stored, const std::string& heading,
                     Attempt attempt)
{
    // Only a notice that the next start can send may leave its pauses early.
    std::unique_ptr<pcudata::breakablePauses> stopCuts;
    if (stored.stored()) stopCuts = std::make_unique<pcudata::breakablePauses>(serviceStop::breaker());
    int series = 1;
    int tries = 1;
    int total = 0;
    for (;;) {
        poco_information(callerLog,
                         heading + " (" + std::to_string(series) + "/" + std::to_string(tries) + ")");
        ++total;
        if (stored.attempted(attempt()) == 200) {
            stored.finish(true);
            return true;
        }
        if (series > SERIES_LIMIT) break;
        if (handedOverAtStop(stored)) return false;
        if (tries < ATTEMPTS_PER_SERIES) {
            pcudata::timeSrc().sleepUs(ATTEMPT_PAUSE_US);
            ++tries;
        } else {
            ++series;
            tries = 1;
            pcudata::timeSrc().sleepUs(SERIES_PAUSE_US);
        }
        if (handedOverAtStop(stored)) return false;
    }
    poco_error(callerLog, "Отправка " + what + " заказа '" + stored.notice().orderId + "' прекращена после " +
                              std::to_string(total) + " попыток");
    stored.finish(false);
    return false;
}

bool notices::handedOverAtStop(storedNotice& stored)
{
    if (!stored.stored() || !serviceStop::underway()) return false;
    stored.handOver();
    return true;
}

bool notices::_send_long_cancel(const std::string& apikey, const std::string& orderId,
                                const std::string& reason)
{
    storedNotice stored(state::finalNotice::cancel(apikey, orderId, reason), callerLog);
    return sendLong(stored);
}

bool notices::_send_long_complete(const std::string& apikey, const std::string& orderId,
                                  const std::string& extOrderId, const std::string& extDate, double volume)
{
    storedNotice stored(state::finalNotice::complete(apikey, orderId, extOrderId, extDate, volume),
                        callerLog);
    return sendLong(stored);
}

// "c номером" in both headings starts with a Latin c.
bool notices::sendLong(storedNotice& stored)
{
    const state::finalNotice& n = stored.notice();
    if (n.kind == state::noticeKind::complete) {
        std::string heading = "Отправка завершения заказа c номером '" + n.orderId + "' транзакция номер '" +
                              n.extOrderId + "' время '" + n.extDate + "' объем '" + sixDecimals(n.litre) +
                              "'";
        return repeat("завершения", stored, heading,
                      [&] { return _complete_order(n.apikey, n.orderId, n.extOrderId, n.extDate, n.litre); });
    }
    std::string heading = "Отправка отмены заказа c номером '" + n.orderId + "' Причина: '" + n.reason + "'";
    return repeat("отмены", stored, heading, [&] { return _cancel_order(n.apikey, n.orderId, n.reason); });
}

std::string notices::_makeExtDate(const int64_t& t)
{
    time_t copy = static_cast<time_t>(t);
    return pcudata::str::_mk_dmy_ExtDate(copy);
}

}  // namespace upstream
}  // namespace azs_apps
