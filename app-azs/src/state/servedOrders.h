#pragma once
// The orders that a /fueling request has taken on and not ended yet, kept in the state file so
// that a fuelweb killed during a delivery (or stopped by a power cut) takes them over at its next
// start instead of leaving them without a final notice.
//
// A row is written before the platform gets its answer to /fueling, with everything the request
// needs to go on (the order as sent, its api key and payment code). Before the request settles the
// pump or gives it back, the end it decided on (a completion with its figures, a cancellation with
// its reason) is written into the row, so that a take-over finishes that very end. Once the
// order's final notice is stored in the outbox the row is ended: from then on the outbox alone
// carries the order.
//
// Every write is a transaction of its own, pressed onto the disk (synchronous FULL). A failed
// write is logged at error under "fuelweb/state" and reported as false (or id 0); the order goes
// on all the same, it is only not taken over after a crash. The object may be used from any
// thread.
#include <Poco/Logger.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orderRecord.h"
#include "outbox.h"
#include "stateDb.h"

namespace azs_apps {
namespace state {

// The row of an order that /fueling has taken on: the order, and where it stands.
struct servedOrder : orderRecord {
    int64_t id = 0;
    std::string stage;
    bool endDecided = false;
    finalNotice end;  // with endDecided: the notice the request decided to send
    time_t createdAt = 0;
};

class servedOrders {
public:
    static constexpr const char* SERVING = "serving";        // started, watched
    static constexpr const char* COMPLETING = "completing";  // completion decided
    static constexpr const char* CANCELLING = "cancelling";  // cancellation decided
    static constexpr const char* ENDED = "ended";            // final notice stored
    static constexpr const char* UNRESOLVED = "unresolved";  // could not be taken over

    // On a connection of its own to the state file (made with its tables by the outbox). Null
    // when the file can't be opened; error says why.
    static std::shared_ptr<servedOrders> open(const std::string& path, std::string& error);
    explicit servedOrders(std::unique_ptr<stateDb> db);

    // Where the /fueling requests of this process keep their orders; null: nowhere (no state
    // file).
    static std::shared_ptr<servedOrders> current();
    // Returns the installation's number, for uninstall.
    static uint64_t install(std::shared_ptr<servedOrders> rows);
    // Removes that installation if no later one replaced it.
    static void uninstall(uint64_t installation);

    // The row of an accepted order; its id, 0 when it could not be written.
    int64_t begin(const servedOrder& o, time_t now);
    // The end the request decided on: a completion or a cancellation.
    bool decide(int64_t id, const finalNotice& end);
    // The order's final notice is stored (stage ENDED), or it can't be taken over (UNRESOLVED).
    bool close(int64_t id, const char* stage, time_t now);

    // The rows not ended, oldest first.
    std::vector<servedOrder> unfinished();
    // The same on another connection (the operator's command); empty when they can't be read.
    static std::vector<servedOrder> unfinishedIn(stateDb& db);
    // True when the outbox holds a final notice of the order stored at or after since.
    bool noticeStored(const std::string& orderId, time_t since);

private:
    std::unique_ptr<stateDb> db;
    Poco::Logger& log;
    std::mutex m;  // one statement at a time on the connection

    bool write(const char* what, int64_t id, const std::function<bool()>& statement);
};

}  // namespace state
}  // namespace azs_apps
