#include "outbox.h"

#include "installedSlot.h"

#include <map>

#include "processToken.h"

namespace azs_apps {
namespace state {

namespace {

const char* const COLUMNS =
    "id, order_id, kind, apikey, reason, ext_order_id, ext_date, litre, state, attempts, last_status, "
    "created_at, last_attempt_at, next_at, deadline_at, delivered_at, claimed_by";

outboxEntry entryOf(const sqlStatement& q)
{
    outboxEntry e;
    e.id = q.int64(0);
    e.notice.orderId = q.text(1);
    e.notice.kind = q.text(2) == "complete" ? noticeKind::complete : noticeKind::cancel;
    e.notice.apikey = q.text(3);
    e.notice.reason = q.text(4);
    e.notice.extOrderId = q.text(5);
    e.notice.extDate = q.text(6);
    e.notice.litre = q.real(7);
    e.state = q.text(8);
    e.attempts = static_cast<int>(q.int64(9));
    e.lastStatus = q.int64(10);
    e.createdAt = static_cast<time_t>(q.int64(11));
    e.lastAttemptAt = static_cast<time_t>(q.int64(12));
    e.nextAt = static_cast<time_t>(q.int64(13));
    e.deadlineAt = static_cast<time_t>(q.int64(14));
    e.deliveredAt = static_cast<time_t>(q.int64(15));
    e.claimedBy = q.text(16);
    return e;
}

std::mutex registryMutex;
std::map<std::string, std::weak_ptr<outbox>> byFile;  // one outbox per state file in this process
installedSlot<outbox> slot;

}  // namespace

const char* kindName(noticeKind k)
{
    return k == noticeKind::complete ? "complete" : "cancel";
}

finalNotice finalNotice::cancel(const std::string& apikey, const std::string& orderId,
                                const std::string& reason)
{
    finalNotice n;
    n.kind = noticeKind::cancel;
    n.apikey = apikey;
    n.orderId = orderId;
    n.reason = reason;
    return n;
}

finalNotice finalNotice::complete(const std::string& apikey, const std::string& orderId,
                                  const std::string& extOrderId, const std::string& extDate, double litre)
{
    finalNotice n;
    n.kind = noticeKind::complete;
    n.apikey = apikey;
    n.orderId = orderId;
    n.extOrderId = extOrderId;
    n.extDate = extDate;
    n.litre = litre;
    return n;
}

// --- which outbox ------------------------------------------------------------------------------

std::shared_ptr<outbox> outbox::forFile(const std::string& path, std::string& error)
{
    std::lock_guard<std::mutex> g(registryMutex);
    std::shared_ptr<outbox> box = byFile[path].lock();
    if (box) return box;
    std::unique_ptr<stateDb> db = stateDb::open(path, stateDb::readWrite, stateDb::full, error);
    if (!db) return nullptr;
    box = std::make_shared<outbox>(std::move(db), processToken::self());
    byFile[path] = box;
    return box;
}

outbox::outbox(std::unique_ptr<stateDb> db, std::string token)
    : db(std::move(db)), self(std::move(token)), log(Poco::Logger::get("fuelweb/state"))
{
}

std::shared_ptr<outbox> outbox::current()
{
    return slot.current();
}

uint64_t outbox::install(std::shared_ptr<outbox> box)
{
    return slot.install(std::move(box));
}

void outbox::uninstall(uint64_t installation)
{
    slot.uninstall(installation);
}

outboxTiming outbox::timing()
{
    std::lock_guard<std::mutex> g(m);
    return cadence;
}

void outbox::setTiming(const outboxTiming& t)
{
    std::lock_guard<std::mutex> g(m);
    cadence = t;
}

void outbox::busyWaitMs(int ms)
{
    std::lock_guard<std::mutex> g(m);
    db->busyWaitMs(ms);
}

// --- writes of the senders ---------------------------------------------------------------------

// Runs one write; a failure is logged with what was being written.
bool outbox::write(const char* what, int64_t id, const std::function<bool()>& statement)
{
    if (statement()) return true;
    poco_error(log, std::string("Ошибка записи в файл состояния '") + db->path() + "' (" + what +
                        ", запись " + std::to_string(id) + "): " + db->errorText());
    return false;
}

int64_t outbox::store(const finalNotice& n, time_t now, time_t deadline)
{
    std::lock_guard<std::mutex> g(m);
    int64_t id = 0;
    bool ok = write("сохранение уведомления", 0, [&] {
        sqlStatement q(*db,
                       "INSERT INTO outbox (order_id, kind, apikey, reason, ext_order_id, ext_date, litre, "
                       "state, created_at, next_at, deadline_at, claimed_by, claimed_at) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, 'pending', ?, ?, ?, ?, ?)");
        q.bind(1, n.orderId).bind(2, std::string(kindName(n.kind))).bind(3, n.apikey).bind(4, n.reason);
        q.bind(5, n.extOrderId).bind(6, n.extDate).bind(7, n.litre).bind(8, int64_t{now});
        q.bind(9, int64_t{now}).bind(10, int64_t{deadline}).bind(11, self).bind(12, int64_t{now});
        if (!q.run()) return false;
        id = db->lastInsertId();
        return true;
    });
    if (!ok) return 0;
    inFlight.insert(id);
    return id;
}

bool outbox::attempted(int64_t id, int64_t status, time_t now)
{
    std::lock_guard<std::mutex> g(m);
    return write("попытка отправки", id, [&] {
        sqlStatement q(*db,
                       "UPDATE outbox SET attempts = attempts + 1, last_status = ?, last_attempt_at = ? "
                       "WHERE id = ?");
        return q.bind(1, status).bind(2, int64_t{now}).bind(3, id).run();
    });
}

bool outbox::delivered(int64_t id, time_t now)
{
    std::lock_guard<std::mutex> g(m);
    inFlight.erase(id);
    bool ok = write("доставка уведомления", id, [&] {
        sqlStatement q(*db,
                       "UPDATE outbox SET state = 'delivered', delivered_at = ?, claimed_by = '', "
                       "claimed_at = 0 WHERE id = ?");
        return q.bind(1, int64_t{now}).bind(2, id).run();
    });
    // Until the mark is written, nobody here may send it again.
    if (!ok) unrecorded.insert(id);
    return ok;
}

bool outbox::release(int64_t id, time_t nextAt)
{
    std::lock_guard<std::mutex> g(m);
    inFlight.erase(id);
    return write("возврат в очередь", id, [&] {
        sqlStatement q(*db,
                       "UPDATE outbox SET next_at = ?, claimed_by = '', claimed_at = 0 "
                       "WHERE id = ? AND state = 'pending'");
        return q.bind(1, int64_t{nextAt}).bind(2, id).run();
    });
}

bool outbox::failed(int64_t id, int64_t status, time_t now, time_t nextAt)
{
    std::lock_guard<std::mutex> g(m);
    inFlight.erase(id);
    return write("неудачная попытка отправки", id, [&] {
        sqlStatement q(*db,
                       "UPDATE outbox SET attempts = attempts + 1, last_status = ?, last_attempt_at = ?, "
                       "next_at = ?, claimed_by = '', claimed_at = 0 WHERE id = ? AND state = 'pending'");
        return q.bind(1, status).bind(2, int64_t{now}).bind(3, int64_t{nextAt}).bind(4, id).run();
    });
}

bool outbox::abandon(int64_t id)
{
    std::lock_guard<std::mutex> g(m);
    inFlight.erase(id);
    return write("отказ от отправки", id, [&] {
        sqlStatement q(*db,
                       "UPDATE outbox SET state = 'abandoned', claimed_by = '', claimed_at = 0 "
                       "WHERE id = ? AND state = 'pending'");
        return q.bind(1, id).run();
    });
}

void outbox::markUnrecorded(time_t now)
{
    std::set<int64_t> ids;
    {
        std::lock_guard<std::mutex> g(m);
        ids.swap(unrecorded);
    }
    for (int64_t id : ids) delivered(id, now);
}

// A claim is void when its process is gone, or when it is this process's and no sender here
// holds the entry.
bool outbox::claimVoid(int64_t id, const std::string& holder) const
{
    if (holder.empty()) return true;
    if (holder == self) return inFlight.count(id) == 0 && unrecorded.count(id) == 0;
    return !processToken::alive(holder);
}

std::vector<outboxEntry> outbox::claimDue(time_t now, bool everyDue)
{
    std::lock_guard<std::mutex> g(m);
    std::vector<outboxEntry> claimed;
    bool ok = write("выбор уведомлений к отправке", 0, [&] {
        sqlTransaction tx(*db);
        if (!tx.begun()) return false;
        std::vector<outboxEntry> due;
        {
            std::string sql = std::string("SELECT ") + COLUMNS +
                              " FROM outbox WHERE state = 'pending' AND (? OR next_at <= ?) ORDER BY id";
            sqlStatement q(*db, sql.c_str());
            q.bind(1, int64_t{everyDue ? 1 : 0}).bind(2, int64_t{now});
            while (q.next()) {
                outboxEntry e = entryOf(q);
                if (unrecorded.count(e.id) == 0 && claimVoid(e.id, e.claimedBy)) due.push_back(e);
            }
            if (q.failed()) return false;
        }
        for (outboxEntry& e : due) {
            sqlStatement q(*db, "UPDATE outbox SET claimed_by = ?, claimed_at = ? WHERE id = ?");
            if (!q.bind(1, self).bind(2, int64_t{now}).bind(3, e.id).run()) return false;
            e.claimedBy = self;
        }
        if (!tx.commit()) return false;
        claimed = std::move(due);
        return true;
    });
    if (!ok) return {};
    for (const outboxEntry& e : claimed) inFlight.insert(e.id);
    return claimed;
}

time_t outbox::nextDue()
{
    std::lock_guard<std::mutex> g(m);
    sqlStatement q(*db, "SELECT MIN(next_at) FROM outbox WHERE state = 'pending' AND claimed_by = ''");
    return q.next() ? static_cast<time_t>(q.int64(0)) : 0;
}

bool outbox::forget(time_t before)
{
    std::lock_guard<std::mutex> g(m);
    return write("удаление старых записей", 0, [&] {
        sqlTransaction tx(*db);
        sqlStatement notices(*db, "DELETE FROM outbox WHERE state != 'pending' AND created_at < ?");
        sqlStatement rows(*db, "DELETE FROM journal WHERE at_us < ?");
        sqlStatement fuelings(
            *db, "DELETE FROM fuelings WHERE stage IN ('ended', 'unresolved') AND created_at < ?");
        sqlStatement holds(*db, "DELETE FROM holds WHERE stage = 'ended' AND created_at < ?");
        sqlStatement asked(*db, "DELETE FROM operator_requests WHERE state != 'asked' AND asked_at < ?");
        return tx.begun() && notices.bind(1, int64_t{before}).run() &&
               rows.bind(1, int64_t{before} * 1000000).run() && fuelings.bind(1, int64_t{before}).run() &&
               holds.bind(1, int64_t{before}).run() && asked.bind(1, int64_t{before}).run() && tx.commit();
    });
}

// --- the operator ------------------------------------------------------------------------------

namespace {

std::vector<outboxEntry> selectEntries(stateDb& db, const char* where, const std::string* arg)
{
    std::string sql = std::string("SELECT ") + COLUMNS + " FROM outbox WHERE " + where + " ORDER BY id";
    sqlStatement q(db, sql.c_str());
    if (arg != nullptr) q.bind(1, *arg);
    std::vector<outboxEntry> rows;
    while (q.next()) rows.push_back(entryOf(q));
    return rows;
}

}  // namespace

std::vector<outboxEntry> outbox::undelivered(stateDb& db)
{
    return selectEntries(db, "state != 'delivered'", nullptr);
}

std::vector<outboxEntry> outbox::ofOrder(stateDb& db, const std::string& orderId)
{
    return selectEntries(db, "order_id = ?", &orderId);
}

int outbox::requeue(stateDb& db, const std::string& orderId, time_t now, time_t deadline)
{
    sqlStatement q(db,
                   "UPDATE outbox SET state = 'pending', next_at = ?, deadline_at = ? "
                   "WHERE order_id = ? AND state != 'delivered'");
    if (!q.bind(1, int64_t{now}).bind(2, int64_t{deadline}).bind(3, orderId).run()) return -1;
    return sqlite3_changes(db.handle());
}

}  // namespace state
}  // namespace azs_apps
