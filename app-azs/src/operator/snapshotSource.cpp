#include "snapshotSource.h"

#include <map>

#include "outbox.h"
#include "servedOrders.h"
#include "timeSource.h"
#include "watchedOrders.h"
#include "weblog.h"

namespace azs_apps {

namespace {

using pcudata::peek;

constexpr const char* RESERVED = "reserved";
constexpr int BUSY_WAIT_MS = 200;
// Error lines may quote what a request carried; a key found in one is shown as this.
constexpr const char* HIDDEN = "***";
// Shorter keys are not looked for in the error lines: they would match ordinary words.
constexpr size_t SHORTEST_HIDDEN = 3;

std::string textOf(const char (&field)[pcudata::TRK_TEXT_SIZE])
{
    char text[pcudata::TRK_TEXT_SIZE];
    pcudata::peekText(text, field);
    return text;
}

std::string firstKey(const std::string& apikey)
{
    return apikey.substr(0, apikey.find(','));
}

void hide(std::string& line, const std::string& secret)
{
    if (secret.size() < SHORTEST_HIDDEN) return;
    for (size_t at = line.find(secret); at != std::string::npos; at = line.find(secret, at + 3))
        line.replace(at, secret.size(), HIDDEN);
}

std::string ageText(int64_t sec)
{
    if (sec < 120) return std::to_string(sec) + " с";
    if (sec < 7200) return std::to_string(sec / 60) + " мин";
    return std::to_string(sec / 3600) + " ч";
}

}  // namespace

std::string clientKeyPrefix(const std::string& key)
{
    const size_t shown = std::min<size_t>(4, key.size() / 2);
    return key.substr(0, shown) + (key.empty() ? "" : "…");
}

snapshotSource::snapshotSource(const settings& cfg, controllerProbe& probe)
    : cfg(cfg), probe(probe), startedAt(pcudata::timeSrc().now())
{
    cfg.controller.applyTo(pcu);
}

stationSnapshot snapshotSource::take()
{
    std::lock_guard<std::mutex> lock(m);
    stationSnapshot s;
    s.takenAt = pcudata::timeSrc().now();
    readTable(s);
    readPumps(s);
    checkWritable(s.takenAt);
    s.stateFileWritable = writable;
    readOrders(s);
    readNotices(s);
    readController(s);
    readErrors(s);
    s.warnings = warningsOf(s);
    return s;
}

void snapshotSource::readTable(stationSnapshot& s)
{
    s.table.attached = pcu.is_shm() || pcu.shmInit() == 0;
    if (s.table.attached) {
        s.table.fresh = pcu.tableFresh();
        const int64_t dataTime = pcu.tableTime();
        if (dataTime != 0) {
            s.table.ageSec = std::max<int64_t>(0, static_cast<int64_t>(s.takenAt) - dataTime);
            lastRenewal = dataTime;
        }
    }
    const int64_t renewed = lastRenewal != 0 ? lastRenewal : static_cast<int64_t>(startedAt);
    s.table.sinceRenewedSec = std::max<int64_t>(0, static_cast<int64_t>(s.takenAt) - renewed);
}

void snapshotSource::readPumps(stationSnapshot& s)
{
    if (!s.table.attached) return;
    for (int n = 1; n <= pcudata::TRK_COUNT; ++n) {
        const pcudata::trkState_t* rec = pcu.getTrkState(n);
        if (rec == nullptr || peek(rec->trk) != n) continue;
        pumpView p;
        p.number = n;
        p.status = pcu.statusOf(rec);
        p.statusText = pcudata::trkStatusText(p.status);
        p.nozzle = peek(rec->statusAux);
        p.product = peek(rec->prodCode);
        p.productName = textOf(rec->prodName);
        p.litres = static_cast<double>(peek(rec->volume)) / 1000.0;
        p.money = static_cast<double>(peek(rec->amount)) / 100.0;
        p.blocked = peek(rec->blocked) != 0;
        p.orderTag = textOf(rec->orderId);
        if (!p.orderTag.empty()) {
            p.clientKeyPrefix = clientKeyPrefix(textOf(rec->clientKey));
            const int32_t tagTime = peek(rec->tagTime);
            p.tagAgeSec = tagTime > 0 ? std::max<int64_t>(0, s.takenAt - tagTime) : 0;
        }
        s.pumps.push_back(p);
    }
}

// The orders served (from the state file) and those only reserved (a tag on a pump, no row). An
// order served without a state file is known by its tag and its watch.
void snapshotSource::readOrders(stationSnapshot& s)
{
    std::map<std::string, const pumpView*> tagged;
    for (const pumpView& p : s.pumps)
        if (!p.orderTag.empty()) tagged[p.orderTag] = &p;
    std::vector<state::servedOrder> served;
    if (db) served = state::servedOrders::unfinishedIn(*db);
    for (const state::servedOrder& o : served) {
        orderView v;
        v.orderId = o.orderId;
        v.pump = o.trk;
        v.stage = o.stage;
        v.ageSec = std::max<int64_t>(0, s.takenAt - o.createdAt);
        auto on = tagged.find(o.orderId);
        if (on != tagged.end() && on->second->number == o.trk) {
            v.litres = on->second->litres;
            tagged.erase(on);
        }
        s.orders.push_back(v);
    }
    for (const auto& [orderId, p] : tagged) {
        orderView v;
        v.orderId = orderId;
        v.pump = p->number;
        v.stage = watchedOrders::isWatched(orderId) ? state::servedOrders::SERVING : RESERVED;
        v.litres = p->litres;
        v.ageSec = p->tagAgeSec;
        s.orders.push_back(v);
    }
}

void snapshotSource::readNotices(stationSnapshot& s)
{
    if (!db) return;
    for (const state::outboxEntry& e : state::outbox::undelivered(*db)) {
        const int64_t age = std::max<int64_t>(0, s.takenAt - e.createdAt);
        if (e.state == state::outbox::PENDING) {
            ++s.noticesPending;
            s.oldestPendingSec = std::max(s.oldestPendingSec, age);
        } else {
            ++s.noticesAbandoned;
        }
        s.noticesLate += age >= stationSnapshot::NOTICE_WARN_SEC;
        if (s.notices.size() >= NOTICES_LISTED) continue;
        noticeView n;
        n.orderId = e.notice.orderId;
        n.kind = state::kindName(e.notice.kind);
        n.state = e.state;
        n.attempts = e.attempts;
        n.lastAnswer = e.lastStatus;
        n.nextAttemptAt = e.state == state::outbox::PENDING ? e.nextAt : 0;
        n.ageSec = age;
        s.notices.push_back(n);
    }
}

void snapshotSource::readController(stationSnapshot& s)
{
    const controllerProbe::result r = probe.last();
    s.controller.address = cfg.controller.host + ":" + std::to_string(cfg.controller.port);
    s.controller.probed = r.probed;
    s.controller.connected = r.probed && r.connected;
    s.controller.roundTripMs = static_cast<double>(r.roundTripUs) / 1000.0;
    if (r.probed) s.controller.checkedAgoSec = std::max<int64_t>(0, s.takenAt - r.at);
}

// The keys this snapshot must not show: the configured ones, and the client keys of the orders on
// the pumps and of the notices waiting.
std::vector<std::string> snapshotSource::secrets(const stationSnapshot& s)
{
    std::vector<std::string> keys{cfg.upstreamKey, cfg.ctlKey};
    for (int n = 1; s.table.attached && n <= pcudata::TRK_COUNT; ++n) {
        const pcudata::trkState_t* rec = pcu.getTrkState(n);
        if (rec != nullptr) keys.push_back(textOf(rec->clientKey));
    }
    if (db)
        for (const state::outboxEntry& e : state::outbox::undelivered(*db))
            keys.push_back(firstKey(e.notice.apikey));
    return keys;
}

void snapshotSource::readErrors(stationSnapshot& s)
{
    s.errors = weblog::recentErrors();
    if (s.errors.empty()) return;
    const std::vector<std::string> keys = secrets(s);
    for (std::string& line : s.errors)
        for (const std::string& key : keys) hide(line, key);
}

// An empty write transaction, begun and rolled back: it needs what a real write needs (the file
// and its journal writable, the lock to be had) and changes nothing. A lock held by another
// writer of the service means the file is being written, so it counts as writable.
void snapshotSource::checkWritable(time_t now)
{
    if (writeCheckedAt != 0 && now >= writeCheckedAt && now - writeCheckedAt < WRITE_CHECK_SEC) return;
    writeCheckedAt = now;
    std::string error;
    if (!db) db = state::stateDb::open(cfg.statePath, state::stateDb::update, state::stateDb::normal, error);
    if (!db) {
        writable = false;
        return;
    }
    db->busyWaitMs(BUSY_WAIT_MS);
    if (db->exec("BEGIN IMMEDIATE")) {
        writable = db->exec("ROLLBACK");
        return;
    }
    writable = sqlite3_errcode(db->handle()) == SQLITE_BUSY;
    if (!writable) db.reset();  // opened afresh at the next check
}

std::vector<warningView> warningsOf(const stationSnapshot& s)
{
    std::vector<warningView> w;
    if (!s.table.attached)
        w.push_back({"pump_table", "Нет доступа к таблице состояния ТРК: монитор ТРК не запускался"});
    else if (s.table.ageSec < 0)
        w.push_back({"pump_table", "Монитор ТРК остановлен: состояние ТРК неизвестно"});
    else if (!s.table.fresh)
        w.push_back({"pump_table", "Таблица состояния ТРК не обновляется " + ageText(s.table.ageSec) +
                                       ": состояние ТРК неизвестно"});
    if (s.controller.probed && !s.controller.connected)
        w.push_back({"controller", "Нет связи с портом управления контроллера " + s.controller.address});
    if (s.noticesLate > 0)
        w.push_back({"notices",
                     "Уведомления, не принятые платформой дольше 5 мин: " + std::to_string(s.noticesLate)});
    return w;
}

}  // namespace azs_apps
