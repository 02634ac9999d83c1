#include "stateDb.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace azs_apps {
namespace state {

namespace {

// Version of the tables below; a file written by a newer program is left alone.
constexpr int SCHEMA_VERSION = 3;

const char* const SCHEMA = R"(
CREATE TABLE IF NOT EXISTS outbox (
    id              INTEGER PRIMARY KEY AUTOINCREMENT,
    order_id        TEXT    NOT NULL,
    kind            TEXT    NOT NULL,            -- 'cancel' or 'complete'
    apikey          TEXT    NOT NULL,
    reason          TEXT    NOT NULL DEFAULT '',
    ext_order_id    TEXT    NOT NULL DEFAULT '',
    ext_date        TEXT    NOT NULL DEFAULT '',
    litre           REAL    NOT NULL DEFAULT 0,
    state           TEXT    NOT NULL,            -- 'pending', 'delivered' or 'abandoned'
    attempts        INTEGER NOT NULL DEFAULT 0,
    last_status     INTEGER NOT NULL DEFAULT 0,
    created_at      INTEGER NOT NULL,
    last_attempt_at INTEGER NOT NULL DEFAULT 0,
    next_at         INTEGER NOT NULL,
    deadline_at     INTEGER NOT NULL,
    delivered_at    INTEGER NOT NULL DEFAULT 0,
    claimed_by      TEXT    NOT NULL DEFAULT '', -- process sending it now
    claimed_at      INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS outbox_due ON outbox(state, next_at);
CREATE INDEX IF NOT EXISTS outbox_order ON outbox(order_id);
CREATE TABLE IF NOT EXISTS journal (
    seq      INTEGER PRIMARY KEY AUTOINCREMENT,
    at_us    INTEGER NOT NULL,
    order_id TEXT    NOT NULL,
    pump     INTEGER NOT NULL,
    kind     TEXT    NOT NULL,
    code     INTEGER NOT NULL,
    text     TEXT    NOT NULL
);
CREATE INDEX IF NOT EXISTS journal_order ON journal(order_id, seq);
CREATE INDEX IF NOT EXISTS journal_time ON journal(at_us);
CREATE TABLE IF NOT EXISTS fuelings (
    id           INTEGER PRIMARY KEY AUTOINCREMENT,
    order_id     TEXT    NOT NULL,
    pump         INTEGER NOT NULL,
    apikey       TEXT    NOT NULL,
    client_key   TEXT    NOT NULL,
    ext_id       TEXT    NOT NULL DEFAULT '',
    app_id       INTEGER NOT NULL DEFAULT 0,
    prod         INTEGER NOT NULL,
    price        REAL    NOT NULL,
    volume       REAL    NOT NULL,
    summa        REAL    NOT NULL,
    contract     TEXT    NOT NULL DEFAULT '',
    pmt          INTEGER NOT NULL,
    trannum      INTEGER NOT NULL DEFAULT 0,
    stage        TEXT    NOT NULL,            -- 'serving', 'completing', 'cancelling', 'ended', 'unresolved'
    end_kind     TEXT    NOT NULL DEFAULT '', -- the end decided: 'complete' or 'cancel'
    end_apikey   TEXT    NOT NULL DEFAULT '',
    reason       TEXT    NOT NULL DEFAULT '',
    ext_order_id TEXT    NOT NULL DEFAULT '',
    ext_date     TEXT    NOT NULL DEFAULT '',
    litre        REAL    NOT NULL DEFAULT 0,
    created_at   INTEGER NOT NULL,
    ended_at     INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS fuelings_stage ON fuelings(stage);
CREATE TABLE IF NOT EXISTS holds (
    id         INTEGER PRIMARY KEY AUTOINCREMENT,
    order_id   TEXT    NOT NULL,
    pump       INTEGER NOT NULL,
    kind       TEXT    NOT NULL,            -- 'reservation' or 'payment'
    stage      TEXT    NOT NULL,            -- 'intent', 'held' or 'ended'
    client_key TEXT    NOT NULL DEFAULT '',
    trannum    INTEGER NOT NULL DEFAULT 0,  -- the transaction held; 0: not known yet
    created_at INTEGER NOT NULL,
    ended_at   INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS holds_stage ON holds(stage);
CREATE TABLE IF NOT EXISTS operator_requests (
    id       INTEGER PRIMARY KEY AUTOINCREMENT,
    kind     TEXT    NOT NULL,              -- 'release'
    pump     INTEGER NOT NULL,
    state    TEXT    NOT NULL,              -- 'asked', 'done' or 'refused'
    result   TEXT    NOT NULL DEFAULT '',
    asked_at INTEGER NOT NULL,
    done_at  INTEGER NOT NULL DEFAULT 0
);
)";

bool exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// An operator's command run as root must not leave files of the database that the service's
// user can't open: the write-ahead log and its index take the owner of the database file.
void matchOwner(const std::string& path)
{
    struct stat db;
    if (::geteuid() != 0 || ::stat(path.c_str(), &db) != 0) return;
    for (const char* suffix : {"-wal", "-shm"}) {
        const std::string side = path + suffix;
        struct stat st;
        if (::stat(side.c_str(), &st) != 0 || (st.st_uid == db.st_uid && st.st_gid == db.st_gid)) continue;
        // A failure shows later, when the service can't open the file; the command goes on.
        if (::chown(side.c_str(), db.st_uid, db.st_gid) != 0) continue;
    }
}

// The directories of path, made as mkdir -p does; false with errno set when one can't be made.
bool makeParents(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string dir = path.substr(0, slash);
        if (::mkdir(dir.c_str(), 0750) != 0 && errno != EEXIST) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<stateDb> stateDb::open(const std::string& path, openMode mode, durability d,
                                       std::string& error)
{
    if (path.empty()) {
        error = "путь не задан";
        return nullptr;
    }
    const bool created = mode == readWrite && !exists(path);
    if (mode == readWrite && !makeParents(path)) {
        error = std::strerror(errno);
        return nullptr;
    }
    int flags = SQLITE_OPEN_FULLMUTEX;
    if (mode == readWrite) flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (mode == update) flags |= SQLITE_OPEN_READWRITE;
    if (mode == readOnly) flags |= SQLITE_OPEN_READONLY;
    sqlite3* handle = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &handle, flags, nullptr);
    std::unique_ptr<stateDb> db(new stateDb(handle, path));
    if (rc != SQLITE_OK) {
        error = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
        return nullptr;
    }
    // The file holds the platform's keys: only the service's user reads it.
    if (created) ::chmod(path.c_str(), 0600);
    if (!db->prepare(mode, d, error)) return nullptr;
    return db;
}

bool stateDb::prepare(openMode mode, durability d, std::string& error)
{
    sqlite3_busy_timeout(db, BUSY_WAIT_MS);
    sqlite3_extended_result_codes(db, 1);
    int64_t version = 0;
    {
        sqlStatement q(*this, "PRAGMA user_version");
        if (!q.next()) {
            error = errorText();  // not a database, or unreadable
            return false;
        }
        version = q.int64(0);
    }
    if (version > SCHEMA_VERSION) {
        error = "файл записан более новой версией программы (схема " + std::to_string(version) + ")";
        return false;
    }
    if (mode == readOnly) {
        matchOwner(file);
        return true;
    }
    // Per connection, takes no lock.
    if (!exec(d == full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL")) {
        error = errorText();
        return false;
    }
    // A file in use by the service (a new service cycle, the operator's command) is left as it is:
    // changing its journal mode or tables would wait for the writers of the running one.
    if (version < SCHEMA_VERSION && !createTables(error)) return false;
    matchOwner(file);
    return true;
}

// WAL mode outside a transaction, then the tables in one transaction that waits for other
// writers.
bool stateDb::createTables(std::string& error)
{
    const std::string tables = std::string("BEGIN IMMEDIATE;") + SCHEMA +
                               "PRAGMA user_version=" + std::to_string(SCHEMA_VERSION) + "; COMMIT;";
    if (!exec("PRAGMA journal_mode=WAL") || !exec(tables.c_str())) {
        error = errorText();
        exec("ROLLBACK");
        return false;
    }
    return true;
}

stateDb::~stateDb()
{
    sqlite3_close_v2(db);
}

bool stateDb::exec(const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::string stateDb::errorText() const
{
    return sqlite3_errmsg(db);
}

int64_t stateDb::lastInsertId() const
{
    return sqlite3_last_insert_rowid(db);
}

void stateDb::busyWaitMs(int ms)
{
    sqlite3_busy_timeout(db, ms);
}

// --- statements --------------------------------------------------------------------------------

sqlStatement::sqlStatement(stateDb& db, const char* sql)
{
    rc = sqlite3_prepare_v2(db.handle(), sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) stmt = nullptr;
}

sqlStatement::~sqlStatement()
{
    sqlite3_finalize(stmt);
}

sqlStatement& sqlStatement::bind(int i, int64_t v)
{
    if (stmt) sqlite3_bind_int64(stmt, i, v);
    return *this;
}

sqlStatement& sqlStatement::bind(int i, double v)
{
    if (stmt) sqlite3_bind_double(stmt, i, v);
    return *this;
}

sqlStatement& sqlStatement::bind(int i, const std::string& v)
{
    if (stmt) sqlite3_bind_text(stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
}

bool sqlStatement::next()
{
    if (!stmt) return false;
    rc = sqlite3_step(stmt);
    return rc == SQLITE_ROW;
}

bool sqlStatement::run()
{
    if (!stmt) return false;
    do {
        rc = sqlite3_step(stmt);
    } while (rc == SQLITE_ROW);
    return rc == SQLITE_DONE;
}

int64_t sqlStatement::int64(int col) const
{
    return sqlite3_column_int64(stmt, col);
}

double sqlStatement::real(int col) const
{
    return sqlite3_column_double(stmt, col);
}

std::string sqlStatement::text(int col) const
{
    const unsigned char* t = sqlite3_column_text(stmt, col);
    return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(stmt, col)) : std::string();
}

// --- transactions ------------------------------------------------------------------------------

sqlTransaction::sqlTransaction(stateDb& db) : db(db), open(db.exec("BEGIN IMMEDIATE")) {}

sqlTransaction::~sqlTransaction()
{
    if (open) db.exec("ROLLBACK");
}

bool sqlTransaction::commit()
{
    if (!open) return false;
    if (!db.exec("COMMIT")) return false;  // still open: the destructor rolls it back
    open = false;
    return true;
}

}  // namespace state
}  // namespace azs_apps
