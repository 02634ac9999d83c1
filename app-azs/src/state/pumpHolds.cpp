#include "pumpHolds.h"

#include <algorithm>

#include "installedSlot.h"
#include "timeSource.h"

namespace azs_apps {
namespace state {

namespace {

std::mutex registryMutex;
std::map<std::string, std::weak_ptr<pumpHolds>> byFile;  // one object per state file in this process
installedSlot<pumpHolds> slot;

holdKind kindOf(const std::string& name)
{
    return name == holdKindName(holdKind::payment) ? holdKind::payment : holdKind::reservation;
}

}  // namespace

const char* holdKindName(holdKind k)
{
    return k == holdKind::payment ? "payment" : "reservation";
}

std::shared_ptr<pumpHolds> pumpHolds::forFile(const std::string& path, std::string& error)
{
    std::lock_guard<std::mutex> g(registryMutex);
    std::shared_ptr<pumpHolds> holds = byFile[path].lock();
    if (holds) return holds;
    std::unique_ptr<stateDb> db = stateDb::open(path, stateDb::readWrite, stateDb::full, error);
    if (!db) return nullptr;
    holds = std::make_shared<pumpHolds>(std::move(db));
    byFile[path] = holds;
    return holds;
}

std::shared_ptr<pumpHolds> pumpHolds::inMemory()
{
    static std::shared_ptr<pumpHolds> process = std::make_shared<pumpHolds>(nullptr);
    return process;
}

pumpHolds::pumpHolds(std::unique_ptr<stateDb> db) : db(std::move(db)), log(Poco::Logger::get("fuelweb/state"))
{
    if (this->db) loadOpen();
}

std::shared_ptr<pumpHolds> pumpHolds::current()
{
    return slot.current();
}

uint64_t pumpHolds::install(std::shared_ptr<pumpHolds> holds)
{
    return slot.install(std::move(holds));
}

void pumpHolds::uninstall(uint64_t installation)
{
    slot.uninstall(installation);
}

std::vector<pumpHold> pumpHolds::openIn(stateDb& db)
{
    sqlStatement q(db,
                   "SELECT id, order_id, pump, kind, stage, client_key, trannum, created_at FROM holds "
                   "WHERE stage != 'ended' ORDER BY id");
    std::vector<pumpHold> open;
    while (q.next()) {
        pumpHold h;
        h.id = q.int64(0);
        h.orderId = q.text(1);
        h.pump = static_cast<int>(q.int64(2));
        h.kind = kindOf(q.text(3));
        h.stage = q.text(4);
        h.clientKey = q.text(5);
        h.trannum = static_cast<int32_t>(q.int64(6));
        h.createdAt = static_cast<time_t>(q.int64(7));
        open.push_back(h);
    }
    return open;
}

bool pumpHolds::endIn(stateDb& db, int64_t id, time_t now)
{
    sqlStatement q(db, "UPDATE holds SET stage = 'ended', ended_at = ? WHERE id = ?");
    return q.bind(1, int64_t{now}).bind(2, id).run();
}

// The holds a process that has ended left open: nobody is taking them any more.
void pumpHolds::loadOpen()
{
    for (pumpHold h : openIn(*db)) {
        h.orphan = true;
        entries[h.id] = h;
    }
}

bool pumpHolds::write(const char* what, int64_t id, bool ok)
{
    if (!ok) {
        poco_error(log, std::string("Ошибка записи в файл состояния '") + db->path() + "' (" + what +
                            ", удержание " + std::to_string(id) + "): " + db->errorText());
    }
    return ok;
}

bool pumpHolds::blocked(const pumpHold& h) const
{
    for (const auto& e : entries) {
        const pumpHold& other = e.second;
        if (other.pump != h.pump) continue;
        if (other.orderId != h.orderId) return true;
        // The same order taking the same kind twice at once; an intent it left as an orphan (its
        // process ended) does not stand in the way of the order's new owner.
        if (other.kind == h.kind && other.stage == INTENT && !other.orphan) return true;
    }
    return false;
}

int64_t pumpHolds::intend(const pumpHold& h, time_t now)
{
    std::lock_guard<std::mutex> g(m);
    if (blocked(h)) return 0;
    pumpHold e = h;
    e.stage = INTENT;
    e.createdAt = now;
    e.orphan = false;
    e.id = 0;
    if (db) {
        sqlStatement q(*db,
                       "INSERT INTO holds (order_id, pump, kind, stage, client_key, trannum, created_at) "
                       "VALUES (?, ?, ?, 'intent', ?, ?, ?)");
        q.bind(1, e.orderId).bind(2, int64_t{e.pump}).bind(3, std::string(holdKindName(e.kind)));
        q.bind(4, e.clientKey).bind(5, int64_t{e.trannum}).bind(6, int64_t{now});
        if (write("намерение удержания ТРК", 0, q.run())) e.id = db->lastInsertId();
    }
    // Kept in memory all the same: the pump is ours to take even when the file fails, and a
    // memory id never meets a row id (they are negative).
    if (e.id == 0) e.id = -(nextMemoryId++);
    entries[e.id] = e;
    return e.id;
}

void pumpHolds::setTransaction(int64_t id, int32_t trannum)
{
    std::lock_guard<std::mutex> g(m);
    auto it = entries.find(id);
    if (it == entries.end()) return;
    it->second.trannum = trannum;
    if (!db || id < 0) return;
    sqlStatement q(*db, "UPDATE holds SET trannum = ? WHERE id = ?");
    write("транзакция удержания ТРК", id, q.bind(1, int64_t{trannum}).bind(2, id).run());
}

void pumpHolds::held(int64_t id)
{
    std::lock_guard<std::mutex> g(m);
    auto it = entries.find(id);
    if (it == entries.end()) return;
    it->second.stage = HELD;
    it->second.orphan = false;
    if (!db || id < 0) return;
    sqlStatement q(*db, "UPDATE holds SET stage = 'held' WHERE id = ?");
    write("удержание ТРК записано", id, q.bind(1, id).run());
}

void pumpHolds::end(int64_t id, time_t now)
{
    std::lock_guard<std::mutex> g(m);
    if (entries.erase(id) == 0 || !db || id < 0) return;
    write("удержание ТРК снято", id, endIn(*db, id, now));
}

void pumpHolds::endOrder(const std::string& orderId, time_t now)
{
    std::vector<int64_t> ids;
    {
        std::lock_guard<std::mutex> g(m);
        for (const auto& e : entries)
            if (e.second.orderId == orderId) ids.push_back(e.first);
    }
    for (int64_t id : ids) end(id, now);
}

void pumpHolds::orphan(int64_t id)
{
    std::lock_guard<std::mutex> g(m);
    auto it = entries.find(id);
    if (it != entries.end()) it->second.orphan = true;
}

std::vector<pumpHold> pumpHolds::open()
{
    std::lock_guard<std::mutex> g(m);
    std::vector<pumpHold> all;
    for (const auto& e : entries) all.push_back(e.second);
    // Row ids grow with time; memory ids (negative) are newer than every row loaded at the start.
    std::stable_sort(all.begin(), all.end(),
                     [](const pumpHold& a, const pumpHold& b) { return a.createdAt < b.createdAt; });
    return all;
}

bool pumpHolds::find(const std::string& orderId, holdKind kind, pumpHold& out)
{
    for (const pumpHold& h : open()) {
        if (h.orderId != orderId || h.kind != kind) continue;
        out = h;
        return true;
    }
    return false;
}

std::vector<pumpHold> pumpHolds::onPump(int pump)
{
    std::vector<pumpHold> found;
    for (const pumpHold& h : open())
        if (h.pump == pump) found.push_back(h);
    return found;
}

// --- one intent of a request -------------------------------------------------------------------

holdIntent::holdIntent(const pumpHold& h) : holds(pumpHolds::current())
{
    resolved = !holds;
    if (!holds) return;
    id = holds->intend(h, pcudata::timeSrc().now());
    allowed = id != 0;
    resolved = !allowed;
}

holdIntent::~holdIntent()
{
    if (!resolved) holds->orphan(id);
}

void holdIntent::transaction(int32_t trannum)
{
    if (holds && allowed) holds->setTransaction(id, trannum);
}

void holdIntent::held()
{
    if (!holds || resolved) return;
    holds->held(id);
    resolved = true;
}

void holdIntent::givenBack()
{
    if (!holds || resolved) return;
    holds->end(id, pcudata::timeSrc().now());
    resolved = true;
}

}  // namespace state
}  // namespace azs_apps
