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

    const state::finalNotice& notice() const { return kept; }
    // True when the notice is in the state file: the background sender can take it over.
    bool stored() const { return id != 0; }

    // Counts one attempt that the platform answered with status; returns the status.
    int64_t attempted(int64_t status);
    // The wrapper is done: delivered, or given up by it.
    void finish(bool delivered);
    // The process ends while the wrapper is still retrying: the stored notice is given back to the
    // outbox, due at once, for the background sender (of the next start).
    void handOver();

private:
    state::finalNotice kept;
    Poco::Logger& log;
    std::shared_ptr<state::outbox> box;
    state::outboxTiming timing;
    int64_t id = 0;  // 0: not in the state file
    time_t deadline = 0;
    int64_t lastStatus = 0;
};

}  // namespace upstream
}  // namespace azs_apps
