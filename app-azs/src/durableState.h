#pragma once
// What the service keeps in its state file during one service cycle: the outbox of final notices
// (installed for the retrying wrappers), the orders taken on by /fueling (installed for its
// requests), what our workplace holds on the pumps (installed for /order and the deliveries), the
// writer of the order journal and the background sender of the notices nobody is
// sending. Made when a cycle starts, after the configuration is
// read, and destroyed when it ends: the sender and the writer stop with it (the writer first
// writes what is queued).
//
// Keys of the "fuelweb" object:
//   "state_path"             the state file, default "/var/lib/fuelgate/state.db", where the
//                            package keeps it (its directory is made when missing)
//   "notice_resend_interval" seconds between two attempts of a notice the wrappers gave up on,
//                            default 600
//   "notice_resend_days"     days after which such a notice is given up, default 7
//   "journal_keep_days"      days the journal and the finished notices are kept, default 400
//                            (0: for ever)
//
// A state file that can't be opened costs one error line: the service runs on, its notices are
// sent from memory only and no journal is kept.
#include <memory>
#include <string>

#include "journal.h"
#include "outbox.h"
#include "outboxSender.h"
#include "pumpHolds.h"
#include "servedOrders.h"
#include "settings.h"

namespace azs_apps {

class durableState {
public:
    explicit durableState(const settings& cfg);
    ~durableState();
    durableState(const durableState&) = delete;
    durableState& operator=(const durableState&) = delete;

    // False when the state file could not be opened.
    bool ready() const { return box != nullptr; }
    std::shared_ptr<state::outbox> outbox() const { return box; }
    std::shared_ptr<state::servedOrders> served() const { return fuelings; }
    // Never null: without a state file the holds are kept in memory.
    std::shared_ptr<state::pumpHolds> holds() const { return pumpHolds; }
    // Waits until the journal rows recorded so far are written (tests).
    void flushJournal();

private:
    std::shared_ptr<state::outbox> box;
    uint64_t installation = 0;
    std::shared_ptr<state::servedOrders> fuelings;
    uint64_t fuelingsInstallation = 0;
    std::shared_ptr<state::pumpHolds> pumpHolds;
    uint64_t holdsInstallation = 0;
    std::unique_ptr<state::journalWriter> writer;
    std::unique_ptr<upstream::outboxSender> sender;
};

}  // namespace azs_apps
