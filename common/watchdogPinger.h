#pragma once
// Pings systemd's watchdog (WATCHDOG=1) while every heartbeat of a board is fresh, and keeps the
// unit's status line (STATUS=) up to date. A heartbeat silent for longer than the limit stops the
// pings: systemd then ends the process (WatchdogSec after the last ping) and, with
// Restart=on-failure, starts it again. The stall is logged once, naming the thread, when it starts
// and when it ends.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "heartbeat.h"

namespace pcudata {

class watchdogPinger {
public:
    // The shortest silence counted as a stall: longer than any single blocking step of the
    // programs (a controller read budget, a notice's transfer time-out), with room to spare.
    static constexpr int64_t MIN_LIMIT_US = 30LL * 1000000;

    // status: the text of the status line, asked for every round; empty text or none: no line.
    watchdogPinger(heartbeatBoard& board, int64_t limitUs, std::function<std::string()> status = {});
    // stop()
    ~watchdogPinger();
    watchdogPinger(const watchdogPinger&) = delete;
    watchdogPinger& operator=(const watchdogPinger&) = delete;

    // The stall limit for systemd's watchdog period: twice the period, at least MIN_LIMIT_US.
    static int64_t limitFor(int64_t watchdogUs);

    // One round: the status line when it changed, and WATCHDOG=1 when no heartbeat is stalled.
    // True when it pinged.
    bool round();
    // Rounds every periodUs of real time on a thread of its own, until stop().
    void start(int64_t periodUs);
    void stop();

private:
    heartbeatBoard& board;
    const int64_t limitUs;
    std::function<std::string()> status;
    std::string lastStatus;
    bool stalled = false;
    std::mutex m;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

}  // namespace pcudata
