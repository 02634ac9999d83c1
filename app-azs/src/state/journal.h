#pragma once
// The journal of orders: one row per decision taken about an order (admitted or refused,
// reserved, started, volume counted, completed or cancelled, its final notice delivered or given
// up), with the time, the pump and the order id, kept in the state file for the operator.
//
// record() only queues the row: the request goes on at once, and one writer thread writes the
// rows in the order they were recorded. Rows are recorded only while journaling is on (a writer
// was started in this process); with no database they are dropped after a bound.
#include <Poco/Logger.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "stateDb.h"

namespace azs_apps {
namespace state {

struct journalRow {
    int64_t seq = 0;
    int64_t atUs = 0;  // microseconds since the epoch
    std::string orderId;
    int pump = 0;  // 0: the pump of the order's earlier rows
    std::string kind;
    int64_t code = 0;
    std::string text;
};

namespace journal {

// Kinds of decision.
inline constexpr char ADMITTED[] = "admitted";  // code 0, text: the road (reservation or post-payment)
inline constexpr char REFUSED[] = "refused";    // code: HTTP status, text: the answer's text
inline constexpr char REPEATED[] = "repeated";  // the same order again, answered as before
inline constexpr char RESERVED[] = "reserved";  // code 200, text: the transaction number
inline constexpr char SETTLED[] = "settled";    // post-payment taken; text: litres and transaction
inline constexpr char FUELING[] = "fueling";    // /fueling accepted (code 200) for the order
inline constexpr char STARTED[] = "started";    // the pump was started for the order
inline constexpr char START_TIMEOUT[] = "start_timeout";
// The pump moved on to another order during this one; code: the transaction it shows, text: whose.
inline constexpr char PUMP_TAKEN[] = "pump_taken";
// A hold of our workplace given back for an order nobody serves; code: the command's TYP.
inline constexpr char HOLD_RELEASED[] = "hold_released";
inline constexpr char RESUMED[] = "resumed";        // taken over after a restart; code: pump status
inline constexpr char UNRESOLVED[] = "unresolved";  // could not be taken over: for the operator
inline constexpr char VOLUME[] = "volume";          // text: litres so far
inline constexpr char COMPLETED[] = "completed";    // text: litres and transaction
inline constexpr char CANCELLED[] = "cancelled";    // text: the reason
inline constexpr char NOTICE_DELIVERED[] = "notice_delivered";  // code: the platform's status
inline constexpr char NOTICE_DEFERRED[] = "notice_deferred";    // handed to the slow cadence
inline constexpr char NOTICE_ABANDONED[] = "notice_abandoned";
inline constexpr char NOTICE_REQUEUED[] = "notice_requeued";  // by the operator

// Queues a row; returns at once. Rows without an order id are not kept.
void record(const std::string& orderId, int pump, const char* kind, int64_t code, const std::string& text);

// Writes one row at once on that connection (the operator's command, which runs no writer); a row
// without its pump takes the pump of the order's latest row.
bool insert(stateDb& db, journalRow& row);

// The rows of an order, in the order they were recorded.
std::vector<journalRow> ofOrder(stateDb& db, const std::string& orderId);

// Rows waiting for the writer (tests).
size_t queued();

}  // namespace journal

// Writes the queued rows into its database until it is destroyed; the destructor writes what is
// queued before it returns. Two writers (one ending, one starting with a new service cycle) keep
// the rows in order between them.
class journalWriter {
public:
    explicit journalWriter(std::unique_ptr<stateDb> db);
    ~journalWriter();
    journalWriter(const journalWriter&) = delete;
    journalWriter& operator=(const journalWriter&) = delete;

    // Waits until every row queued so far is written (tests, and the operator's view).
    void flush();

private:
    std::unique_ptr<stateDb> db;
    Poco::Logger& log;
    bool stopping = false;  // guarded by the queue's mutex
    bool failing = false;   // the last write failed: the next failure is not logged again
    std::thread thread;

    void run();
    void writeBatch();
    void writeRows(std::vector<journalRow>& rows);
};

}  // namespace state
}  // namespace azs_apps
