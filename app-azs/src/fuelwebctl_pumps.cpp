#include "fuelwebctl_pumps.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "holdKeeper.h"
#include "journal.h"
#include "operatorRequests.h"
#include "outbox.h"
#include "pcuControl.h"
#include "pumpHolds.h"
#include "servedOrders.h"
#include "timeSource.h"

namespace azs_apps {
namespace fuelwebctlPumps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

constexpr int DONE = 0;
constexpr int FAILED = 1;
constexpr int64_t ANSWER_POLL_US = 100000;

std::string textOf(const char (&field)[pcudata::TRK_TEXT_SIZE])
{
    char text[pcudata::TRK_TEXT_SIZE];
    pcudata::peekText(text, field);
    return text;
}

// The pump table of the configuration, attached as the two programs attach it; false (with the
// reason on err) when there is none yet.
bool attach(const settings& cfg, pcudata::pcuControl& pcu, std::ostream& err)
{
    cfg.controller.applyTo(pcu);
    struct stat sb;
    if (::stat(pcu.getIpcPath().c_str(), &sb) != 0) {
        err << "Таблица состояния ТРК не создана: нет файла ключа '" << pcu.getIpcPath()
            << "' (монитор ТРК и fuelweb не запускались)\n";
        return false;
    }
    if (pcu.shmInit() == 0) return true;
    err << "Нет доступа к таблице состояния ТРК (файл ключа '" << pcu.getIpcPath() << "', ошибка "
        << pcu.getLastError() << ")\n";
    return false;
}

std::string ageText(time_t since, time_t now)
{
    if (since <= 0) return "-";
    const time_t s = now - since;
    if (s < 120) return std::to_string(s) + " с";
    if (s < 7200) return std::to_string(s / 60) + " мин";
    return std::to_string(s / 3600) + " ч";
}

std::string tableText(pcudata::pcuControl& pcu, time_t now)
{
    const pcudata::pcuStatus_t* c = pcu.getPcuStatus();
    const int64_t dataTime = c == nullptr ? 0 : peek(c->dataTime);
    if (dataTime == 0) return "монитор ТРК остановлен: состояние ТРК неизвестно";
    const std::string age = ageText(static_cast<time_t>(dataTime), now);
    if (pcu.tableFresh()) return "обновлена " + age + " назад";
    return "не обновляется " + age + ": состояние ТРК неизвестно";
}

// What our workplace holds on the pump, as the record shows it.
std::string heldText(const pcudata::trkState_t* rec, int32_t wplace)
{
    if (peek(rec->lockWplace) != wplace) return "";
    if (peek(rec->lockType) != 0) return "блокировка оплаты р.м. " + std::to_string(wplace);
    if (peek(rec->status) == st::BUSY) return "резерв р.м. " + std::to_string(wplace);
    return "";
}

void printPumps(pcudata::pcuControl& pcu, std::ostream& out, time_t now)
{
    int unpublished = 0;
    for (int n = 1; n <= pcudata::TRK_COUNT; ++n) {
        const pcudata::trkState_t* rec = pcu.getTrkState(n);
        if (rec == nullptr || peek(rec->trk) != n) {
            ++unpublished;
            continue;
        }
        const int32_t status = peek(rec->status);
        const std::string tag = textOf(rec->orderId);
        char line[64];
        std::snprintf(line, sizeof line, "ТРК %2d  статус %2d  ", n, status);
        out << line << pcudata::trkStatusText(status) << "\n";
        out << "        заказ "
            << (tag.empty() ? std::string("-") : "'" + tag + "' (" + ageText(peek(rec->tagTime), now) + ")");
        const std::string held = heldText(rec, pcu.get_wplace());
        if (!held.empty()) out << "; " << held;
        if (peek(rec->blocked) != 0) out << "; заблокирована для заказов";
        out << "\n";
    }
    if (unpublished == pcudata::TRK_COUNT) out << "Ни одна ТРК не опубликована монитором ТРК\n";
}

void printServed(state::stateDb& db, std::ostream& out)
{
    std::vector<state::servedOrder> open = state::servedOrders::unfinishedIn(db);
    out << "Заказы на обслуживании fuelweb: " << open.size() << "\n";
    for (const state::servedOrder& o : open) {
        out << "  '" << o.orderId << "' ТРК " << o.trk << ", " << o.stage << ", с "
            << ageText(o.createdAt, pcudata::timeSrc().now()) << " назад\n";
    }
    std::vector<state::pumpHold> holds = state::pumpHolds::openIn(db);
    out << "Удержания ТРК рабочим местом: " << holds.size() << "\n";
    for (const state::pumpHold& h : holds) {
        out << "  ТРК " << h.pump << ": " << state::holdKindName(h.kind) << " для заказа '" << h.orderId
            << "', " << h.stage << (h.trannum > 0 ? ", транзакция " + std::to_string(h.trannum) : "") << "\n";
    }
}

// --- release -----------------------------------------------------------------------------------

int askFuelweb(state::stateDb& db, int pump, int waitSec, std::ostream& out, std::ostream& err)
{
    pcudata::timeSource& clock = pcudata::timeSrc();
    const int64_t id = state::operatorRequests::ask(db, state::operatorRequests::RELEASE, pump, clock.now());
    if (id == 0) {
        err << "Ошибка записи в файл состояния: " << db.errorText() << "\n";
        return FAILED;
    }
    const time_t until = clock.now() + waitSec;
    state::operatorRequest r;
    while (clock.now() <= until) {
        if (state::operatorRequests::find(db, id, r) && r.state != state::operatorRequests::ASKED) {
            const bool done = r.state == state::operatorRequests::DONE;
            (done ? out : err) << "ТРК " << pump << ": " << r.result << "\n";
            return done ? DONE : FAILED;
        }
        clock.sleepUs(ANSWER_POLL_US);
    }
    state::operatorRequests::withdraw(db, id, clock.now());
    err << "fuelweb не ответил за " << waitSec
        << " с. Если fuelweb не запущен, повторите команду с --force\n";
    return FAILED;
}

bool servedNow(state::stateDb& db, const std::string& orderId)
{
    for (const state::servedOrder& o : state::servedOrders::unfinishedIn(db))
        if (o.orderId == orderId) return true;
    return false;
}

// The controller gives the hold back: the reservation (PWORK TYP 2) or the payment lock (WPWRK
// TYP 0).
bool giveBack(pcudata::pcuControl& pcu, int pump, const std::string& orderId, bool reservation,
              std::ostream& err)
{
    std::unique_ptr<pcudata::pcuControl> session = pcu.newSession();
    session->__try_Ctl_Available(3);
    if (!session->isConnected()) {
        err << "Нет связи с контроллером управления ТРК " << session->getHost() << ":" << session->getPort()
            << "\n";
        return false;
    }
    pcudata::cntlMsgResult res;
    int err0 = 0;
    if (session->register_wrkplace(res, err0) != 1 || res.Res != 1) {
        err << "Контроллер не зарегистрировал рабочее место " << pcu.get_wplace() << " (RES=" << res.Res
            << ")\n";
        return false;
    }
    pcudata::cmdMsgResult_clear(res);
    if (reservation)
        session->release_trk(pump, orderId, res, err0);
    else
        session->LockPayment(pump, orderId, res, err0, 0);
    session->close();
    if (res.Res == 1) return true;
    err << "Контроллер не снял удержание (RES=" << res.Res << " " << res.txt << ")\n";
    return false;
}

// The order that the tag names will never be served: its cancellation goes into the outbox, due at
// once for fuelweb's background sender, and the tag goes.
void endTagged(const settings& cfg, state::stateDb& db, pcudata::pcuControl& pcu, pcudata::trkState_t* rec,
               const std::string& orderId)
{
    const std::string apikey = textOf(rec->clientKey) + "," + cfg.upstreamKey + "," + cfg.ctlKey;
    std::string error;
    std::shared_ptr<state::outbox> box = state::outbox::forFile(db.path(), error);
    const time_t now = pcudata::timeSrc().now();
    if (box) {
        const int64_t id = box->store(state::finalNotice::cancel(apikey, orderId, holdKeeper::BY_OPERATOR),
                                      now, now + box->timing().keepSec);
        if (id != 0) box->release(id, now);
    }
    pcu.clr_tagTrkPtr(rec, orderId);
}

int forceRelease(const settings& cfg, state::stateDb& db, int pump, std::ostream& out, std::ostream& err)
{
    pcudata::pcuControl pcu;
    if (!attach(cfg, pcu, err)) return FAILED;
    pcudata::trkState_t* rec = pcu.getTrkState(pump);
    if (rec == nullptr || peek(rec->trk) != pump) {
        err << "ТРК " << pump << " не опубликована монитором ТРК\n";
        return FAILED;
    }
    const std::string orderId = textOf(rec->orderId);
    if (!orderId.empty() && servedNow(db, orderId)) {
        err << "ТРК " << pump << " обслуживает заказ '" << orderId
            << "': fuelweb продолжит его при запуске, удержание не снято\n";
        return FAILED;
    }
    const std::string held = heldText(rec, pcu.get_wplace());
    if (held.empty()) {
        err << "ТРК " << pump << " не удерживается рабочим местом " << pcu.get_wplace() << " (статус "
            << peek(rec->status) << ")\n";
        return FAILED;
    }
    const bool reservation = peek(rec->lockType) == 0;
    if (!giveBack(pcu, pump, orderId, reservation, err)) return FAILED;
    if (!orderId.empty()) endTagged(cfg, db, pcu, rec, orderId);
    std::vector<state::pumpHold> open = state::pumpHolds::openIn(db);
    for (const state::pumpHold& h : open)
        if (h.pump == pump) state::pumpHolds::endIn(db, h.id, pcudata::timeSrc().now());
    state::journalRow row;
    row.atUs = pcudata::timeSrc().nowUs();
    row.orderId = orderId.empty() ? "#ТРК-" + std::to_string(pump) : orderId;
    row.pump = pump;
    row.kind = state::journal::HOLD_RELEASED;
    row.code = reservation ? 2 : 0;
    row.text = held + " снят(а) оператором (fuelwebctl release --force)";
    state::journal::insert(db, row);
    out << "ТРК " << pump << ": " << (reservation ? "резерв снят" : "блокировка оплаты снята")
        << (orderId.empty() ? "" : ", заказ '" + orderId + "' отменен") << "\n";
    return DONE;
}

}  // namespace

int status(const settings& cfg, state::stateDb* db, std::ostream& out, std::ostream& err)
{
    pcudata::pcuControl pcu;
    if (!attach(cfg, pcu, err)) return FAILED;
    const time_t now = pcudata::timeSrc().now();
    out << "Таблица состояния ТРК: " << tableText(pcu, now) << "\n";
    printPumps(pcu, out, now);
    if (db != nullptr) printServed(*db, out);
    return DONE;
}

int release(const settings& cfg, state::stateDb& db, int pump, bool force, int waitSec, std::ostream& out,
            std::ostream& err)
{
    if (pump < 1 || pump > pcudata::TRK_COUNT) {
        err << "Номер ТРК должен быть от 1 до " << pcudata::TRK_COUNT << "\n";
        return FAILED;
    }
    return force ? forceRelease(cfg, db, pump, out, err) : askFuelweb(db, pump, waitSec, out, err);
}

}  // namespace fuelwebctlPumps
}  // namespace azs_apps
