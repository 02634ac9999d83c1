#include "orderAdmission.h"

#include <locale>
#include <sstream>

#include "exceptions.h"
#include "timeSource.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

// A delivery waiting for payment is often being settled at the till at this very moment: a second
// look a little later sees the state that follows.
constexpr int64_t NEED_PAY_REREAD_US = 1000000;

constexpr int32_t POSTPAID_AT_PUMP = 2;  // presetFlags: the delivery was started at the pump
constexpr int32_t UNPAID = 1;            // needPayFlag: the last delivery is not paid yet

}  // namespace

bool orderAdmission::admit(const pcudata::trkState_t* rec, const orderRequest& req) const
{
    if (rec == nullptr) throw ExceptionHTTP("Отсутствует ТРК с указаным номером заказа", 400);
    // An unpublished record still holds pump number 0.
    if (peek(rec->trk) != req.trk) throw ExceptionHTTP("Номер ТРК не соответствует указанному", 400);
    if (peek(rec->autoCafe) == 1 && peek(rec->flagE2) != 1)
        throw ExceptionHTTP("На ТРК установлен режим запрета оплаты с использованием приложения", 400);
    if (peek(rec->blocked) == 1) throw ExceptionHTTP("ТРК заблокирована", 400);

    int32_t status = table.statusOf(rec);
    if (status == st::NEED_PAY) {
        pcudata::timeSrc().sleepUs(NEED_PAY_REREAD_US);
        status = table.statusOf(rec);
        if (status == st::NEED_PAY) {
            settlementTests(rec, req);
            return true;
        }
    }
    // Also a status that has just replaced 11: a pump that went on to serve someone else is busy.
    std::string refusal = busyText(status);
    if (!refusal.empty()) throw ExceptionHTTP(refusal, 400);
    if (req.postPay) throw ExceptionHTTP("Попытка оплаты предыдущего отпуска. Повторите заказ.", 404);
    return false;
}

std::string orderAdmission::busyText(int32_t status)
{
    if (st::idle(status) || status == st::NEED_PAY) return "";
    if (st::ready(status) || st::flowing(status))
        return "ТРК занята. Идет отпуск топлива. Дождитесь завершения и повторите заказ с указанием "
               "полученного объема";
    switch (status) {
        case st::STOPPED:
            return "ТРК остановлена, для окончания заправки требуется повесить пистолет. Повторите заказ "
                   "после завершения отпуска";
        case st::BUSY:
            return "ТРК занята. (Идет работа с кассой, карточным терминалом, ТСО)";
        case st::OFF:
            return "ТРК выключена";
        case st::BLOCKED:
            return "ТРК заблокирована";
        default:
            break;
    }
    // Unpublished pumps (-1) and pumps the controller has lost.
    if (status <= st::NO_LINK) return "Нет связи с ТРК";
    return "ТРК занята";  // initialising, emergency delivery, unknown codes
}

// The order must name the delivery that waits: its transaction, its product, its volume.
void orderAdmission::settlementTests(const pcudata::trkState_t* rec, const orderRequest& req) const
{
    if (!lim.postpayAllowed) throw ExceptionHTTP("Режим постоплаты заблокирован на АЗС", 404);
    const int32_t trannum = peek(rec->trannum);
    if (!req.postPay || req.extendedId.empty() || trannum <= 0 ||
        (peek(rec->presetFlags) & POSTPAID_AT_PUMP) == 0)
        throw ExceptionHTTP("ТРК занята. Не закончен расчет по предыдущему отпуску.(Обратитесь к оператору)",
                            404);
    if (req.extendedId != std::to_string(trannum))
        throw ExceptionHTTP("ТРК занята. (идет расчет с др. клиентом)", 404);
    if (req.prod != peek(rec->prodCode))
        throw ExceptionHTTP("Продукт не соответствует указанному в заказе", 404);
    volumeTest(rec, req);

    const int32_t lockType = peek(rec->lockType);
    const int32_t needPay = peek(rec->needPayFlag);
    if (lockType != 0 || (needPay & UNPAID) == 0) {
        log.debug("Р.М.=" + std::to_string(peek(rec->lockWplace)) +
                  " LockType = " + std::to_string(lockType) + " Need Pay Flag = " + std::to_string(needPay));
        throw ExceptionHTTP("Уже идет обслуживание на кассе др. клиента", 404);
    }
}

// The ordered volume must match the delivered one within the station's tolerance; a refusal tells
// the platform which volume to order instead.
void orderAdmission::volumeTest(const pcudata::trkState_t* rec, const orderRequest& req) const
{
    const int64_t deliveredMl = peek(rec->volume);
    const double delivered = static_cast<double>(deliveredMl) / 1000.0;
    const double lower = req.volume - (lim.underfill >= 0.0 ? lim.underfill : req.volume);
    if (!(delivered > req.volume + lim.overfill || lower > delivered || delivered < 0.01)) return;

    std::ostringstream mismatch;
    mismatch.imbue(std::locale::classic());
    mismatch << "'" << req.volume << "' != '" << delivered << "' (" << delivered << ")";
    log.debug(mismatch.str());
    if (delivered < 0.01) throw ExceptionHTTP(NOTHING_DELIVERED, 404);
    throw ExceptionHTTP(
        "Объем заказа не соответствует фактически отпущенному. Повторите заказ указав объем " +
            std::to_string(deliveredMl / 1000 + 1) + "л.",
        404);
}

}  // namespace azs_apps
