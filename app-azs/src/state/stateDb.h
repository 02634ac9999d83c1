#pragma once
// The service's state file: one SQLite database that keeps what must survive a restart of fuelweb
// (the final notices not yet taken by the platform, and the journal of every order's decisions).
// It is written in WAL mode, so that the operator's command can read it while the service runs.
//
// One stateDb is one connection. Connections are not shared between threads without a lock of
// the owner's; every writer of the service has its own.
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

namespace azs_apps {
namespace state {

class stateDb {
public:
    enum openMode {
        readWrite,  // created with its tables (and its directory) when missing
        update,     // must exist; written
        readOnly,   // must exist; nothing is written
    };
    // How hard a commit presses its data onto the disk: full survives a power cut with the last
    // transaction, normal (in WAL mode) may lose the last transactions but never corrupts.
    enum durability { full, normal };

    // Waits this long for a lock held by another connection before a statement fails.
    static constexpr int BUSY_WAIT_MS = 5000;

    // Null when the file can't be opened; error then says why.
    static std::unique_ptr<stateDb> open(const std::string& path, openMode mode, durability d,
                                         std::string& error);
    ~stateDb();
    stateDb(const stateDb&) = delete;
    stateDb& operator=(const stateDb&) = delete;

    sqlite3* handle() { return db; }
    const std::string& path() const { return file; }
    // Runs statements without results; false when one fails (errorText says why).
    bool exec(const char* sql);
    std::string errorText() const;
    int64_t lastInsertId() const;
    // The lock wait of this connection (tests make it short).
    void busyWaitMs(int ms);

private:
    stateDb(sqlite3* db, std::string path) : db(db), file(std::move(path)) {}
    bool prepare(openMode mode, durability d, std::string& error);
    bool createTables(std::string& error);

    sqlite3* db;
    std::string file;
};

// One prepared statement; binds are 1-based, columns 0-based as in SQLite.
class sqlStatement {
public:
    sqlStatement(stateDb& db, const char* sql);
    ~sqlStatement();
    sqlStatement(const sqlStatement&) = delete;
    sqlStatement& operator=(const sqlStatement&) = delete;

    bool ok() const { return stmt != nullptr; }
    sqlStatement& bind(int i, int64_t v);
    sqlStatement& bind(int i, double v);
    sqlStatement& bind(int i, const std::string& v);
    // True while a row is there to read; false at the end or on an error (failed() tells).
    bool next();
    // Runs a statement without results; true when it went through.
    bool run();
    bool failed() const { return rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE; }

    int64_t int64(int col) const;
    double real(int col) const;
    std::string text(int col) const;

private:
    sqlite3_stmt* stmt = nullptr;
    int rc = SQLITE_OK;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back when it goes out of scope uncommitted.
class sqlTransaction {
public:
    explicit sqlTransaction(stateDb& db);
    ~sqlTransaction();
    sqlTransaction(const sqlTransaction&) = delete;
    sqlTransaction& operator=(const sqlTransaction&) = delete;
    bool begun() const { return open; }
    bool commit();

private:
    stateDb& db;
    bool open;
};

}  // namespace state
}  // namespace azs_apps
