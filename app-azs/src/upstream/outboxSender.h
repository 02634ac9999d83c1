#pragma once
// The background sender of the final notices that nobody is sending: those a retrying wrapper
// gave up on, those of a process that ended before they were delivered, and those the operator
// queued again. At its start it takes every pending notice at once; afterwards each notice is
// tried once per resend interval (10 minutes) until the platform answers 200, and given up
// (abandoned, logged at error) when its deadline (7 days after it was stored) has passed. Logs
// under "fuelweb/outbox"; each attempt also logs the notice's own lines.
//
// One sender runs per service cycle, on a thread of its own; the destructor lets the attempt in
// progress finish (at most the notice's transfer time-out) and stops it. Every wait and clock
// read goes through pcudata::timeSrc().
#include <Poco/Logger.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>

#include "outbox.h"
#include "upstreamTransfer.h"

namespace azs_apps {
namespace upstream {

class outboxSender {
public:
    // Longest sleep between two looks at the outbox (a notice queued by the operator waits at most
    // this long).
    static constexpr time_t LOOK_SEC = 30;
    // How often old journal rows and finished notices are removed.
    static constexpr time_t FORGET_EVERY_SEC = 86400;

    // keepDays: journal rows and finished notices older than that are removed; 0 keeps them.
    outboxSender(std::shared_ptr<state::outbox> box, settings target, int keepDays);
    ~outboxSender();
    outboxSender(const outboxSender&) = delete;
    outboxSender& operator=(const outboxSender&) = delete;

private:
    std::shared_ptr<state::outbox> box;
    settings target;
    time_t keepSec;
    Poco::Logger& log;
    std::atomic<bool> stopping{false};
    std::mutex m;
    std::condition_variable wake;  // the stop
    std::thread thread;

    void run();
    void pass(bool everyPending);
    void send(const state::outboxEntry& e);
    void abandon(const state::outboxEntry& e, time_t now);
    // Sleeps until then or until the sender is stopped; false when stopped.
    bool sleepUntil(time_t then);
};

}  // namespace upstream
}  // namespace azs_apps
