#pragma once
// What our workplace holds with the controller on the pumps, and what it is about to take: one
// entry per hold (a pump's reservation, a delivery's payment lock) with the order it is for.
//
// A hold is written as an intent before the command that takes it goes out, and becomes held once
// the order is written into the pump's record (the tag), or ends when it is given back. So at every
// moment either the pump carries the order that holds it, or an intent names the order and the
// pump: a process killed between the controller's hold and the tag leaves an intent behind, and
// the next start gives that hold back instead of leaving it for nobody (the pump reserved, or the
// payment locked so that the till can't take it). A held reservation stays open until its order
// ends (the delivery's final notice) or the reservation expires.
//
// It is also the station's one view of whose the pumps are: an intent is refused while another
// order's hold is open on the pump (two orders can't be placed on one pump at once, and a lost
// answer to a reservation can only be ours), and the transaction of a hold tells the steps that
// come later whether the pump still serves their order.
//
// One object per state file in this process, so that the service cycles after a SIGHUP share it;
// without a state file the holds are kept in memory only. The entries are in memory as well, so
// that looking costs nothing. Every write is a transaction of its own, pressed onto the disk
// before the command it announces goes out; a failed write is logged at error under
// "fuelweb/state" and the hold is kept in memory. The object may be used from any thread.
#include <Poco/Logger.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "stateDb.h"

namespace azs_apps {
namespace state {

enum class holdKind { reservation, payment };
const char* holdKindName(holdKind k);  // "reservation", "payment"

struct pumpHold {
    int64_t id = 0;
    std::string orderId;
    int pump = 0;
    holdKind kind = holdKind::reservation;
    std::string stage;  // pumpHolds::INTENT or HELD
    std::string clientKey;
    int32_t trannum = 0;  // the transaction held; 0: not known yet
    time_t createdAt = 0;
    // The request that announced the intent has ended without saying what became of it (or it
    // was made by a process that has ended): the keeper of the holds settles it.
    bool orphan = false;
};

class pumpHolds {
public:
    static constexpr const char* INTENT = "intent";
    static constexpr const char* HELD = "held";
    static constexpr const char* ENDED = "ended";

    // The holds of a state file, with the entries it keeps open (those of a process that has
    // ended are orphans); shared by this process. Null when the file can't be opened.
    static std::shared_ptr<pumpHolds> forFile(const std::string& path, std::string& error);
    // Holds kept in memory only, one object for the whole process (no state file).
    static std::shared_ptr<pumpHolds> inMemory();
    // db null: in memory only.
    explicit pumpHolds(std::unique_ptr<stateDb> db);

    // The holds of the running service cycle; null: none kept (the tests of single endpoints).
    static std::shared_ptr<pumpHolds> current();
    static uint64_t install(std::shared_ptr<pumpHolds> holds);
    static void uninstall(uint64_t installation);

    // Announces that h.kind is about to be taken on h.pump for h.orderId; the intent's id. 0 when it
    // must not be taken: another order's hold is open on the pump, or the same order is already
    // taking one of this kind.
    int64_t intend(const pumpHold& h, time_t now);
    void setTransaction(int64_t id, int32_t trannum);
    // The order is written into the pump's record: the hold is no longer an intent.
    void held(int64_t id);
    // Given back, or nothing was taken after all.
    void end(int64_t id, time_t now);
    // Every open hold of the order: it has ended.
    void endOrder(const std::string& orderId, time_t now);
    // The request that announced the intent has ended without resolving it.
    void orphan(int64_t id);

    // The open holds, oldest first.
    std::vector<pumpHold> open();
    // The order's oldest open hold of that kind; false when it has none.
    bool find(const std::string& orderId, holdKind kind, pumpHold& out);
    // The open holds on one pump.
    std::vector<pumpHold> onPump(int pump);

    // The open holds kept in a state file, and the end of one, on another connection (the
    // operator's command, while no service may run).
    static std::vector<pumpHold> openIn(stateDb& db);
    static bool endIn(stateDb& db, int64_t id, time_t now);

private:
    std::unique_ptr<stateDb> db;  // null: in memory only
    Poco::Logger& log;
    std::mutex m;
    std::map<int64_t, pumpHold> entries;  // the open holds by id
    int64_t nextMemoryId = 1;

    void loadOpen();
    bool blocked(const pumpHold& h) const;
    bool write(const char* what, int64_t id, bool ok);
};

// One intent of a request, resolved on every way out of its scope: held (the tag is written),
// given back, or, when the scope ends without either, left as an orphan for the keeper of the
// holds (a command whose outcome is not known: the hold may be ours).
class holdIntent {
public:
    // Announces the intent with the holds of the running cycle (none kept: always taken).
    explicit holdIntent(const pumpHold& h);
    ~holdIntent();
    holdIntent(const holdIntent&) = delete;
    holdIntent& operator=(const holdIntent&) = delete;

    // False when the hold must not be taken (another order's hold is open on the pump).
    bool taken() const { return allowed; }
    void transaction(int32_t trannum);
    void held();
    void givenBack();

private:
    std::shared_ptr<pumpHolds> holds;
    int64_t id = 0;
    bool allowed = true;
    bool resolved = false;
};

}  // namespace state
}  // namespace azs_apps
