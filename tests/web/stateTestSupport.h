#pragma once
// What the tests of the state file share: a directory for the file, a clock that flies through
// long waits, the outbox installed for the retrying wrappers, and reading the file as the
// operator does.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "journal.h"
#include "outbox.h"
#include "stateDb.h"
#include "timeSource.h"

namespace webtest {

namespace state = azs_apps::state;

// A directory for a state file, on tmpfs when the machine has one: a commit pressed onto a disk
// costs milliseconds, and some tests make thousands of them.
class stateDir {
public:
    stateDir();
    ~stateDir();
    stateDir(const stateDir&) = delete;
    stateDir& operator=(const stateDir&) = delete;
    const std::string& path() const { return dir; }
    std::string file() const { return dir + "/state.db"; }

private:
    std::string dir;
};

// Virtual time for one waiting thread: a sleep or a wait moves the clock on at once (and lasts a
// moment of real time), so that days of a background cadence pass in moments. Reads from other
// threads see the same clock.
class flyingClock : public pcudata::timeSource {
public:
    static constexpr int64_t START_US = 1700000000LL * 1000000;
    time_t now() override { return static_cast<time_t>(nowUs() / 1000000); }
    int64_t nowUs() override { return virtualUs.load(); }
    void sleepUs(int64_t us) override
    {
        if (us > 0) virtualUs += us;
        std::this_thread::yield();
    }
    int64_t realWaitUs(int64_t us) override
    {
        if (us > 0) virtualUs += us;
        return 1;
    }
    void advance(int64_t us) { virtualUs += us; }

private:
    std::atomic<int64_t> virtualUs{START_US};
};

// An outbox on the file, installed for the retrying wrappers while the object lives.
class installedOutbox {
public:
    explicit installedOutbox(const std::string& file, state::outboxTiming t = state::outboxTiming());
    ~installedOutbox();
    installedOutbox(const installedOutbox&) = delete;
    installedOutbox& operator=(const installedOutbox&) = delete;
    state::outbox& operator*() { return *box; }
    state::outbox* operator->() { return box.get(); }
    std::shared_ptr<state::outbox> shared() { return box; }

private:
    std::shared_ptr<state::outbox> box;
    uint64_t installation = 0;
};

// The file as the operator reads it, on a connection of its own.
std::vector<state::outboxEntry> entriesOf(const std::string& file, const std::string& orderId);
std::vector<state::journalRow> journalOf(const std::string& file, const std::string& orderId);
// "kind:code:text" of each row, for comparisons.
std::vector<std::string> journalKinds(const std::string& file, const std::string& orderId);

// A connection that holds the file's write lock while it lives (BEGIN EXCLUSIVE), so that every
// write of the service fails once its lock wait is over.
class writeBlocker {
public:
    explicit writeBlocker(const std::string& file);
    ~writeBlocker();

private:
    std::unique_ptr<state::stateDb> db;
};

}  // namespace webtest
