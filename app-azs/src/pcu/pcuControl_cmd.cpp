// The pump commands of the control port and the retried transaction step built on them.
#include <Poco/Logger.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "commandTimer.h"
#include "ctlLog.h"
#include "pcuControl.h"
#include "timeSource.h"

namespace pcudata {

namespace {

// How a command checks its pump number before anything goes on the wire.
enum class pumpCheck { none, silent, logged };

struct cmdFrame {
    int num;
    pumpCheck check;
    bool logNotConnected;
    // false when an amount cannot be written as the line's 32-bit number: the preset is refused
    // rather than sent as a different one.
    bool argsFit = true;
};

// Steps 1-3 shared by every pump command: connection, pump range, lazy registration.
// 0 to go on; -1 when the command must give up (err says why, unless registration left it).
int commandPrologue(pcuControl& ctl, const cmdFrame& f, cntlMsgResult& res, int& err)
{
    Poco::Logger& lg = ctlLog();
    if (!ctl.isConnected()) {
        if (f.logNotConnected) lg.error("Отсутсвует соединение с сокетом");
        ctl.close();  // there is no descriptor left; this only forgets the registration
        err = ENOTCONN;
        return -1;
    }
    if (f.check != pumpCheck::none && (f.num < 1 || f.num > 32)) {
        if (f.check == pumpCheck::logged) lg.error("ТРК за пределом допустимых значений");
        err = EINVAL;
        return -1;
    }
    if (!f.argsFit) {
        lg.error("Значения заказа не умещаются в команду контролера");
        err = EINVAL;
        return -1;
    }
    if (!ctl.is_registered()) {
        if (ctl.register_wrkplace(res, err) != 1) {
            lg.error("Ошибка регистрации рабочего места");
            return -1;
        }
        // The record now holds the REGM reply with RES 1. A command that then gets no reply would
        // leave it there, and callers that judge by res.Res would take the silence for success.
        cmdMsgResult_clear(res);
    }
    return 0;
}

// Steps 4-5: log, send, read the final reply.
int exchange(pcuControl& ctl, const std::string& line, const std::string& info, cntlMsgResult& res, int& err)
{
    ctlLog().information(info);
    commandTimer timer(line);
    if (ctl._sendCommand(line) != 0) {
        timer.done(-1);
        err = EIO;
        return -1;
    }
    const int r = ctl._readResult(res, err);
    timer.done(r);
    return r;
}

int runCommand(pcuControl& ctl, const cmdFrame& f, const std::string& line, const std::string& info,
               cntlMsgResult& res, int& err)
{
    if (commandPrologue(ctl, f, res, err) != 0) return -1;
    return exchange(ctl, line, info, res, err);
}

std::string kv(const char* key, int64_t value)
{
    return std::string(";") + key + "=" + std::to_string(value);
}

// value * scale to the nearest integer, halves away from zero. Decimal amounts such as 0.0005 l
// are not exact in binary (0.0005 * 1000 = 0.49999999999999994), so a product within 1e-9 of a
// half counts as that half. false when the result does not fit the 32-bit field of the line.
bool toUnits(double value, double scale, int64_t& out)
{
    const double x = value * scale;
    if (!std::isfinite(x)) return false;
    double whole = std::round(x);
    const double frac = x - std::trunc(x);
    if (std::fabs(std::fabs(frac) - 0.5) < 1e-9) whole = std::trunc(x) + (x < 0 ? -1.0 : 1.0);
    if (whole < std::numeric_limits<int32_t>::min() || whole > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int64_t>(whole);
    return true;
}

const char* stepName(int step)
{
    switch (step) {
        case 0:
            return "Пуск";
        case 1:
            return "Остановка";
        case 2:
            return "Высвобождение";
        case 3:
            return "Резервирование";
        default:
            return nullptr;
    }
}

}  // namespace

int pcuControl::register_wrkplace(cntlMsgResult& res, int& err)
{
    if (!isConnected()) {
        registered = false;
        err = ENOTCONN;
        return -1;
    }
    const std::string line = "@!REGM" + kv("NUM", wplace) + kv("TYP", wplace_typ) + ";\n";
    ctlLog().information("Регистрация рабочего места");
    commandTimer timer(line);
    if (_sendCommand(line) != 0) {
        timer.done(-1);
        registered = false;
        err = EIO;
        return -1;
    }
    // Judged by the reply actually read: a record that still holds RES 1 from an earlier command
    // must not turn an unanswered REGM into a registration.
    const int r = _readResult(res, err);
    timer.done(r);
    if (r == 1) registered = true;
    return r;
}

int pcuControl::get_price(cntlMsgResult& res, int& err, int prd, int pmt)
{
    const std::string line = "@!GETPRS" + kv("PRD", prd) + kv("PMT", pmt) + ";\n";
    return runCommand(*this, {0, pumpCheck::none, false}, line, "Получение текущей цены на топливо", res,
                      err);
}

int pcuControl::check_trk(int num, cntlMsgResult& res, int& err, int /*prd*/, int /*pmt*/)
{
    const std::string line = "@!PWORK" + kv("NUM", num) + ";TYP=0;\n";
    return runCommand(*this, {num, pumpCheck::none, false}, line, "Проверка доступности ТРК", res, err);
}

int pcuControl::LockPayment(int trk, const std::string& order, cntlMsgResult& res, int& err, int typ)
{
    const std::string line = "@!WPWRK" + kv("TYP", typ) + kv("TRK", trk) + ";\n";
    const std::string info = "Установка блокировки для оплаты (заказ : " + order + ")";
    return runCommand(*this, {trk, pumpCheck::none, false}, line, info, res, err);
}

int pcuControl::change_pmt(int num, const std::string& /*order*/, cntlMsgResult& res, int& err, int pmt)
{
    const std::string line = "@!CHPMT" + kv("NUM", num) + kv("PMT", pmt >= 0 ? pmt : paymnt) + ";\n";
    return runCommand(*this, {num, pumpCheck::none, false}, line, "Смена вида оплаты", res, err);
}

int pcuControl::reserve_trk(int num, cntlMsgResult& res, int& err, int prd, int pmt)
{
    const std::string line =
        "@!PWORK" + kv("NUM", num) + ";TYP=1" + kv("PRD", prd) + kv("PMT", pmt >= 0 ? pmt : paymnt) + ";\n";
    return runCommand(*this, {num, pumpCheck::silent, false}, line, "Резервирование ТРК", res, err);
}

int pcuControl::print_virt(int num, const std::string& /*order*/, cntlMsgResult& res, int& err)
{
    const std::string line = "@!PRNQ" + kv("NUM", num) + ";TYP=5;\n";
    return runCommand(*this, {num, pumpCheck::silent, false}, line, "Расчет, печать чека", res, err);
}

int pcuControl::release_trk(int num, const std::string& /*order*/, cntlMsgResult& res, int& err)
{
    const std::string line = "@!PWORK" + kv("NUM", num) + ";TYP=2;\n";
    return runCommand(*this, {num, pumpCheck::silent, false}, line, "Освобождение ТРК", res, err);
}

int pcuControl::test_lock_trk(int num, const std::string& /*order*/, cntlMsgResult& res, int& err)
{
    // The controller expects this one without the closing ";".
    const std::string line = "@!TSTBD" + kv("NUM", num) + "\n";
    return runCommand(*this, {num, pumpCheck::silent, false}, line, "Проверка и сброс состояния ТРК Занята",
                      res, err);
}

int pcuControl::start_order_trk(int num, const std::string& /*order*/, cntlMsgResult& res, int& err, int prd,
                                int pmt, double volume, double sum, double price, int typ)
{
    int64_t vol = 0, prs = 0, mny = 0;
    const bool amountsFit =
        toUnits(volume, 1000.0, vol) && toUnits(price, 100.0, prs) && toUnits(sum, 100.0, mny);
    if (commandPrologue(*this, {num, pumpCheck::logged, true, amountsFit}, res, err) != 0) return -1;
    const std::string line = "@!PSET" + kv("NUM", num) + kv("PRD", prd) + kv("PMT", pmt >= 0 ? pmt : paymnt) +
                             kv("TYP", typ) + kv("VOL", vol) + kv("PRS", prs) + kv("MNY", mny) + ";\n";
    return exchange(*this, line, "Передача заказа в ТРК (пуск ТРК)", res, err);
}

int pcuControl::stop_trk(int num, const std::string& /*order*/, cntlMsgResult& res, int& err)
{
    const std::string line = "@!STOP" + kv("NUM", num) + ";\n";
    return runCommand(*this, {num, pumpCheck::logged, true}, line, "Остановка ТРК", res, err);
}

int pcuControl::_recreate_trk_transaction(int num, const std::string& order, cntlMsgResult& res, int& err,
                                          int& step, int prd, int pmt, double volume, double sum,
                                          double price, int typ)
{
    const char* name = stepName(step);
    if (name == nullptr) return -1;
    Poco::Logger& lg = ctlLog();
    lg.information(std::string(name) + " ТРК " + std::to_string(num) + " заказ '" + order + "'" +
                   " продукт='" + std::to_string(prd));
    int r = -1;
    for (int k = 0; k < 3; ++k) {
        if (lg.debug()) lg.debug("Статус ТРК : " + std::to_string(step) + " " + name);
        if (!isConnected() || hasError() || err == EIO) {
            err = 0;
            cmdMsgResult_clear(res);
            r = reconnectCtlSock(res, err);
            if (!(r == 1 && err != EIO && err != ENOTCONN && res.Res == 1)) {
                disconnect();
                timeSrc().sleepUs(500000);
                continue;
            }
        }
        err = 0;
        cmdMsgResult_clear(res);
        switch (step) {
            case 0:
                r = start_order_trk(num, order, res, err, prd, pmt, volume, sum, price, typ);
                break;
            case 1:
                r = stop_trk(num, order, res, err);
                break;
            case 2:
                r = release_trk(num, order, res, err);
                break;
            default:
                r = reserve_trk(num, res, err, prd, pmt);
                break;
        }
        if (lg.debug())
            lg.debug("результат выполнения команды ТРК [ попытка=" + std::to_string(k + 1) +
                     " res=" + std::to_string(r) + " ]");
        if (res.Res == 1) {
            step = (step + 1) % 4;
            return r;
        }
        timeSrc().sleepUs(1000000);
    }
    return r;
}

}  // namespace pcudata
