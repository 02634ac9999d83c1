#pragma once
// A final notice on its way out through a retrying wrapper, kept in the state file meanwhile: it
// is stored (claimed by this process) before its first attempt, each attempt is counted, and at
// the end it is marked delivered, or handed to the background sender's slow cadence when the
// wrapper gives up. Without a state file, or when a write fails, the notice goes on from memory
// as before; the failure is logged by the outbox.
//
// The order's journal gets the decision (completed, cancelled) and the notice's fate.
#include <Poco/Logger.h>

#include <cstdint>
#include <memory>

#include "outbox.h"

namespace azs_apps {
namespace upstream {

class storedNotice {
public:
    storedNotice(const state::finalNotice& n, Poco::Logger& callerLog);
    storedNotice(const storedNotice&) = delete;
    storedNotice& operator=(const storedNotice&) = delete;

    // Counts one attempt that the platform answered with status; returns the status.
    int64_t attempted(int64_t status);
    // The wrapper is done: delivered, or given up by it.
    void finish(bool delivered);

private:
    state::finalNotice notice;
    Poco::Logger& log;
    std::shared_ptr<state::outbox> box;
    state::outboxTiming timing;
    int64_t id = 0;  // 0: not in the state file
    time_t deadline = 0;
    int64_t lastStatus = 0;
};

}  // namespace upstream
}  // namespace azs_apps
