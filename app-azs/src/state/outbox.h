#pragma once
// The final notices of orders (completion, cancellation) kept in the state file until the
// platform has taken them. A notice is stored before its first attempt, claimed by the one sender
// that is sending it (the retrying wrapper of the request, or the background sender), and marked
// delivered when the platform answers 200; a notice marked delivered is never sent again. A
// notice that nobody claims and that is due is sent by the background sender.
//
// Claims: a claim names the process (processToken) and, within this process, the entry is in
// flight while its sender holds it. A claim of a process that is gone, or of this process for an
// entry no sender here holds (its release could not be written), is void and the entry is taken.
//
// Every write is a transaction of its own, pressed onto the disk (synchronous FULL). A failed
// write is logged at error under "fuelweb/state" and reported as false (or id 0); the caller then
// goes on from memory. The object may be used from any thread.
#include <Poco/Logger.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "stateDb.h"

namespace azs_apps {
namespace state {

enum class noticeKind { cancel, complete };
const char* kindName(noticeKind k);  // "cancel", "complete"

// Everything the body of a final notice is made of.
struct finalNotice {
    noticeKind kind = noticeKind::cancel;
    std::string apikey;
    std::string orderId;
    std::string reason;      // cancellation
    std::string extOrderId;  // completion: the controller's transaction number
    std::string extDate;     // completion: "dd.mm.yyyy hh:mm:ss"
    double litre = 0.0;      // completion

    static finalNotice cancel(const std::string& apikey, const std::string& orderId,
                              const std::string& reason);
    static finalNotice complete(const std::string& apikey, const std::string& orderId,
                                const std::string& extOrderId, const std::string& extDate, double litre);
};

struct outboxEntry {
    int64_t id = 0;
    finalNotice notice;
    std::string state;  // PENDING, DELIVERED, ABANDONED
    int attempts = 0;
    int64_t lastStatus = 0;
    time_t createdAt = 0;
    time_t lastAttemptAt = 0;
    time_t nextAt = 0;      // due for the background sender from then on
    time_t deadlineAt = 0;  // given up (abandoned) after
    time_t deliveredAt = 0;
    std::string claimedBy;  // token of the process sending it now, or empty
};

// The slow cadence of notices that the retrying wrappers could not deliver.
struct outboxTiming {
    time_t resendSec = 600;      // "fuelweb.notice_resend_interval": one attempt this often
    time_t keepSec = 7 * 86400;  // "fuelweb.notice_resend_days": then the notice is given up
};

class outbox {
public:
    static constexpr const char* PENDING = "pending";
    static constexpr const char* DELIVERED = "delivered";
    static constexpr const char* ABANDONED = "abandoned";

    // The outbox of a state file, shared by everything of this process that uses that file (a
    // restart of the service keeps the entries its requests still send). Null when the file can't
    // be opened; error says why.
    static std::shared_ptr<outbox> forFile(const std::string& path, std::string& error);
    // An outbox on an open connection, as the process named by token (tests play other processes).
    outbox(std::unique_ptr<stateDb> db, std::string token);

    // The outbox that the retrying wrappers store their notices in; null: none (notices are then
    // sent from memory only).
    static std::shared_ptr<outbox> current();
    // Returns the installation's number, for uninstall.
    static uint64_t install(std::shared_ptr<outbox> box);
    // Removes the outbox of that installation if no later one replaced it.
    static void uninstall(uint64_t installation);

    const std::string& path() const { return db->path(); }
    outboxTiming timing();
    void setTiming(const outboxTiming& t);
    const std::string& token() const { return self; }

    // --- the senders -----------------------------------------------------------------------
    // Stores a notice claimed by this process; its id, or 0 when it could not be written.
    int64_t store(const finalNotice& n, time_t now, time_t deadline);
    // Counts an attempt and the platform's status.
    bool attempted(int64_t id, int64_t status, time_t now);
    // The platform took it: never sent again. The claim ends.
    bool delivered(int64_t id, time_t now);
    // The sender gives it back; the background sender takes it from nextAt on.
    bool release(int64_t id, time_t nextAt);
    // attempted and release in one write: an attempt that the platform did not take.
    bool failed(int64_t id, int64_t status, time_t now, time_t nextAt);
    // Given up for good; the claim ends.
    bool abandon(int64_t id);
    // Claims the pending entries that are due at now (every pending one with everyDue), oldest
    // first, leaving those another live sender holds.
    std::vector<outboxEntry> claimDue(time_t now, bool everyDue);
    // When the earliest unclaimed pending entry is due; 0 when there is none.
    time_t nextDue();
    // Entries whose delivery could not be recorded: delivered, not to be sent again; the record
    // is tried again by markUnrecorded.
    void markUnrecorded(time_t now);

    // --- the operator (on a connection of its own, the service may be running) -------------
    // Pending and abandoned entries, oldest first.
    static std::vector<outboxEntry> undelivered(stateDb& db);
    static std::vector<outboxEntry> ofOrder(stateDb& db, const std::string& orderId);
    // Queues the order's undelivered notices to be sent at once, with a new deadline; how many
    // were queued, -1 when the file could not be written.
    static int requeue(stateDb& db, const std::string& orderId, time_t now, time_t deadline);

    // Removes journal rows, finished notices and ended fuellings from before that time (the file
    // would grow for ever); false when that could not be written.
    bool forget(time_t before);

    // Test hook: how long a write waits for a lock held elsewhere.
    void busyWaitMs(int ms);

private:
    std::unique_ptr<stateDb> db;
    std::string self;
    Poco::Logger& log;
    std::mutex m;  // one statement at a time on the connection
    outboxTiming cadence;
    std::set<int64_t> inFlight;    // claimed here and held by a sender of this process
    std::set<int64_t> unrecorded;  // delivered, but the mark could not be written

    bool write(const char* what, int64_t id, const std::function<bool()>& statement);
    bool claimVoid(int64_t id, const std::string& holder) const;
};

}  // namespace state
}  // namespace azs_apps
