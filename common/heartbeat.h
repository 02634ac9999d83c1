#pragma once
// The heartbeat board: the threads whose progress the service's health rests on stamp a beat on
// it, and the watchdog (watchdogPinger) tells systemd the process is alive only while none of them
// has gone too long without one.
//
// A thread enrols for its life (or a scope) with a heartbeat and stamps it:
//  - when it takes up a piece of work and when it is done with it;
//  - while it waits for work, by waiting with a time-out and stamping each time the wait ends, so
//    an idle thread counts as going on;
//  - every time it pauses through the time source (timeSrc().sleepUs, pauseUs): a loop that polls
//    (a delivery being watched for minutes, a wait for the pump to start) pauses on every round,
//    so it keeps stamping for as long as it goes round. A thread stuck for good (a lock never
//    given back, a read that never ends) stops stamping.
// Beats are stamped on the time source's clock, so the tests move them in milliseconds.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pcudata {

class heartbeatBoard {
public:
    struct slot {
        std::string name;
        std::atomic<int64_t> beatUs{0};
    };
    struct stall {
        std::string name;
        int64_t silentUs;
    };

    std::shared_ptr<slot> enrol(const std::string& name);
    void leave(const std::shared_ptr<slot>& s);
    // The slots not stamped within limitUs before nowUs.
    std::vector<stall> stalled(int64_t nowUs, int64_t limitUs) const;
    size_t size() const;

private:
    mutable std::mutex m;
    std::vector<std::shared_ptr<slot>> slots;
};

// The process-wide board.
heartbeatBoard& heartbeats();

// One thread's place on a board, from construction to destruction; made and destroyed on that
// thread. While it lives it is the thread's heartbeat for beat().
class heartbeat {
public:
    explicit heartbeat(const std::string& name, heartbeatBoard& board = heartbeats());
    ~heartbeat();
    heartbeat(const heartbeat&) = delete;
    heartbeat& operator=(const heartbeat&) = delete;

    void stamp();
    // Stamps the calling thread's heartbeat; nothing for a thread that has none.
    static void beat();

private:
    heartbeatBoard& board;
    std::shared_ptr<heartbeatBoard::slot> own;
    heartbeat* outer;  // the thread's heartbeat before this one
};

}  // namespace pcudata
