#include "journal.h"

#include <deque>
#include <mutex>

#include "timeSource.h"

namespace azs_apps {
namespace state {

namespace {

// Rows a writer takes into one transaction.
constexpr size_t BATCH_ROWS = 200;
// Rows kept while no writer keeps up (a database that fails); later ones are dropped.
constexpr size_t QUEUE_LIMIT = 10000;

// The rows of this process on their way to the state file.
struct rowQueue {
    std::mutex m;
    std::condition_variable arrived;  // rows queued, or a writer asked to stop
    std::condition_variable written;  // a batch was taken care of
    std::deque<journalRow> rows;
    int writers = 0;
    uint64_t accepted = 0;  // rows queued so far
    uint64_t handled = 0;   // rows written (or lost to a failed write) so far
    bool overflowing = false;
    std::mutex batch;  // held while one batch is taken and written: the rows stay in order
};

rowQueue& queue()
{
    static rowQueue q;
    return q;
}

}  // namespace

namespace journal {

void record(const std::string& orderId, int pump, const char* kind, int64_t code, const std::string& text)
{
    if (orderId.empty()) return;
    journalRow row;
    row.atUs = pcudata::timeSrc().nowUs();
    row.orderId = orderId;
    row.pump = pump;
    row.kind = kind;
    row.code = code;
    row.text = text;

    rowQueue& q = queue();
    bool firstLoss = false;
    {
        std::lock_guard<std::mutex> g(q.m);
        if (q.writers == 0) return;
        if (q.rows.size() >= QUEUE_LIMIT) {
            firstLoss = !q.overflowing;
            q.overflowing = true;
        } else {
            q.rows.push_back(std::move(row));
            ++q.accepted;
        }
    }
    if (firstLoss) {
        poco_error(Poco::Logger::get("fuelweb/state"),
                   "Очередь журнала заказов переполнена: новые записи журнала теряются");
    }
    q.arrived.notify_one();
}

std::vector<journalRow> ofOrder(stateDb& db, const std::string& orderId)
{
    sqlStatement q(db,
                   "SELECT seq, at_us, order_id, pump, kind, code, text FROM journal WHERE order_id = ? "
                   "ORDER BY seq");
    q.bind(1, orderId);
    std::vector<journalRow> rows;
    while (q.next()) {
        journalRow r;
        r.seq = q.int64(0);
        r.atUs = q.int64(1);
        r.orderId = q.text(2);
        r.pump = static_cast<int>(q.int64(3));
        r.kind = q.text(4);
        r.code = q.int64(5);
        r.text = q.text(6);
        rows.push_back(std::move(r));
    }
    return rows;
}

size_t queued()
{
    rowQueue& q = queue();
    std::lock_guard<std::mutex> g(q.m);
    return q.rows.size();
}

}  // namespace journal

journalWriter::journalWriter(std::unique_ptr<stateDb> db)
    : db(std::move(db)), log(Poco::Logger::get("fuelweb/state"))
{
    {
        rowQueue& q = queue();
        std::lock_guard<std::mutex> g(q.m);
        ++q.writers;
    }
    thread = std::thread(&journalWriter::run, this);
}

journalWriter::~journalWriter()
{
    rowQueue& q = queue();
    {
        std::lock_guard<std::mutex> g(q.m);
        stopping = true;
    }
    q.arrived.notify_all();
    thread.join();
}

void journalWriter::flush()
{
    rowQueue& q = queue();
    std::unique_lock<std::mutex> g(q.m);
    const uint64_t target = q.accepted;
    q.written.wait(g, [&] { return q.handled >= target || q.writers == 0; });
}

void journalWriter::run()
{
    rowQueue& q = queue();
    for (;;) {
        {
            std::unique_lock<std::mutex> g(q.m);
            q.arrived.wait(g, [&] { return !q.rows.empty() || stopping; });
            // The last rows go with the last writer; a writer of the next cycle takes the later ones.
            if (q.rows.empty() && stopping) {
                --q.writers;
                q.written.notify_all();
                return;
            }
        }
        writeBatch();
    }
}

void journalWriter::writeBatch()
{
    rowQueue& q = queue();
    std::lock_guard<std::mutex> order(q.batch);
    std::vector<journalRow> rows;
    {
        std::lock_guard<std::mutex> g(q.m);
        while (!q.rows.empty() && rows.size() < BATCH_ROWS) {
            rows.push_back(std::move(q.rows.front()));
            q.rows.pop_front();
        }
        if (q.rows.size() < QUEUE_LIMIT / 2) q.overflowing = false;
    }
    if (rows.empty()) return;
    writeRows(rows);
    {
        std::lock_guard<std::mutex> g(q.m);
        q.handled += rows.size();
    }
    q.written.notify_all();
}

bool journal::insert(stateDb& db, journalRow& r)
{
    if (r.pump == 0) {
        sqlStatement p(db,
                       "SELECT pump FROM journal WHERE order_id = ? AND pump > 0 ORDER BY seq DESC LIMIT 1");
        if (p.bind(1, r.orderId).next()) r.pump = static_cast<int>(p.int64(0));
    }
    sqlStatement q(db,
                   "INSERT INTO journal (at_us, order_id, pump, kind, code, text) VALUES (?, ?, ?, ?, ?, ?)");
    q.bind(1, r.atUs).bind(2, r.orderId).bind(3, int64_t{r.pump}).bind(4, r.kind);
    return q.bind(5, r.code).bind(6, r.text).run();
}

// One transaction.
void journalWriter::writeRows(std::vector<journalRow>& rows)
{
    bool ok = false;
    std::string why;
    {
        sqlTransaction tx(*db);
        ok = tx.begun();
        for (size_t i = 0; ok && i < rows.size(); ++i) ok = journal::insert(*db, rows[i]);
        ok = ok && tx.commit();
        if (!ok) why = db->errorText();  // before the rollback replaces it
    }
    if (ok) {
        failing = false;
        return;
    }
    // Rows that can't be written are dropped: the journal must not hold up the orders.
    if (!failing) {
        poco_error(log, "Ошибка записи журнала заказов в файл состояния '" + db->path() + "': " + why +
                            " (записей потеряно: " + std::to_string(rows.size()) + ")");
    }
    failing = true;
}

}  // namespace state
}  // namespace azs_apps
