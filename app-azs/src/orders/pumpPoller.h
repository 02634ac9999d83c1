#pragma once
// One reader of the pump table for every watch of a delivery. Each /fueling request keeps its own
// thread for its order, but instead of reading the pump's record every 10 ms itself, it sleeps
// until this poller wakes it: the poller reads the records of the watched pumps every 10 ms and
// wakes a watch when its pump's record changed in what the watch acts on (status as the web side
// takes it, the progress mark, the order's tag and transaction), and every watch once at each new
// second of the clock, when its timers (driver messages, the start timeout, the stall warning)
// may have come due. The watches thus see everything they saw before, and cost nothing while
// nothing happens.
//
// One poller per pump table (key file) in the process, made with its first watch and stopped
// with its last; its own attachment of the table. Every pause and clock read goes through
// pcudata::timeSrc().
#include <array>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "pcuControl.h"

namespace azs_apps {

class pumpPoller {
public:
    static constexpr int64_t POLL_US = 10000;

    // One watch's place: woken when its pump's record changed or a second has begun.
    struct watchSlot {
        int pump = 0;
        bool changed = true;
        std::condition_variable wake;
    };

    // A watch of one pump for as long as it lives.
    class watcher {
    public:
        // table: the watch's reader of the pump table (its key file names the table).
        watcher(pcudata::pcuControl& table, int pump);
        ~watcher();
        watcher(const watcher&) = delete;
        watcher& operator=(const watcher&) = delete;

        // Returns once the pump's record has changed since the last return, or a new second has
        // begun; at once the first time.
        void waitChange();

    private:
        std::shared_ptr<pumpPoller> poller;
        watchSlot* own;
    };

    explicit pumpPoller(const std::string& keyFile);
    ~pumpPoller();
    pumpPoller(const pumpPoller&) = delete;
    pumpPoller& operator=(const pumpPoller&) = delete;

private:
    // What a watch acts on, read from one record.
    struct snapshot {
        int32_t status = -2;
        int32_t notifyDue = 0;
        int32_t trannum = 0;
        int32_t tagged = 0;
        // The order id's first bytes: a new tag changes the transaction or these as a rule, and
        // the watch looks at the whole tag at least once a second anyway.
        uint64_t tagStart = 0;
        bool operator!=(const snapshot& o) const
        {
            return status != o.status || notifyDue != o.notifyDue || trannum != o.trannum ||
                   tagged != o.tagged || tagStart != o.tagStart;
        }
    };

    std::mutex m;
    std::list<watchSlot> slots;                          // the watches
    std::array<int, pcudata::TRK_COUNT + 1> watching{};  // watches by pump
    std::array<snapshot, pcudata::TRK_COUNT + 1> last;   // by pump
    bool stopping = false;
    pcudata::pcuControl table;
    std::thread thread;

    static std::shared_ptr<pumpPoller> forTable(const std::string& keyFile);
    watchSlot* add(int pump);
    void remove(watchSlot* s);
    void run();
    void pass(time_t& second);
    snapshot read(int pump, bool fresh);
};

}  // namespace azs_apps
