#include "paymentLock.h"

#include <cerrno>

namespace azs_apps {

namespace {

const char* loggerOf(paymentLock::caller who)
{
    return who == paymentLock::forOrder ? "fuelweb/order" : "fuelweb/fueling";
}

const char* confirmation(paymentLock::caller who, int lock)
{
    if (who == paymentLock::forOrder)
        return lock == 1 ? "Установлена блокировка ТРК для оплаты (заказ '"
                         : "Сброс блокировки ТРК для оплаты (заказ '";
    return lock == 1 ? "Установлена блокировка для оплаты (заказ '" : "Сброс блокировка для оплаты (заказ '";
}

}  // namespace

paymentLock::paymentLock(caller who, pcudata::pcuControl& prototype)
    : who(who), prototype(prototype), log(Poco::Logger::get(loggerOf(who)))
{
}

// Another workplace (a till, a card terminal) is settling the pump. The fuelling side does not
// count its own workplace: it may hold the pump from an earlier step of the same order.
bool paymentLock::busyElsewhere(const pcudata::pcuControl& session, const pcudata::trkState_t* rec,
                                const std::string& orderId)
{
    int32_t lockType = pcudata::peek(rec->lockType);
    int32_t lockWplace = pcudata::peek(rec->lockWplace);
    if (lockType == 0) return false;
    if (who == forFueling && lockWplace == session.get_wplace()) return false;
    poco_warning(log, "Уже идет работа с кассой на р.м. N" + std::to_string(lockWplace) + " (заказ '" +
                          orderId + "')");
    return true;
}

int paymentLock::_pmt_lock_ptr(std::unique_ptr<pcudata::pcuControl>& session, const pcudata::trkState_t* rec,
                               const std::string& orderId, int lock, pcudata::cntlMsgResult& res)
{
    if (rec == nullptr || !session) return -1;
    if (who == forFueling && prototype.getPcuDrvVer() <= 1) return 1;
    if (lock == 1 && busyElsewhere(*session, rec, orderId)) return 0;
    if (!session->isConnected()) {
        poco_error(log, "Ошибка соединения с сервером Пультрон (заказ '" + orderId + "')");
        return 0;
    }
    int err = 0;
    pcudata::cmdMsgResult_clear(res);
    session->LockPayment(pcudata::peek(rec->trk), orderId, res, err, lock);
    if (res.Res != 1) {
        poco_warning(log, "Уже идет работа с этой ТРК (заказ '" + orderId + "') [err=" +
                              std::to_string(res.Res) + " tcod=" + res.tcod + " descr=" + res.txt + "]");
        return res.Res;
    }
    if (err == EIO || err == ENOTCONN) {
        poco_error(log, "Ошибка соединения с сервером Пультрон (заказ '" + orderId +
                            "') [ err=" + std::to_string(err) + ", descr=" + res.txt + "]");
        return 0;
    }
    poco_information(log, confirmation(who, lock) + orderId + "')");
    return 1;
}

}  // namespace azs_apps
