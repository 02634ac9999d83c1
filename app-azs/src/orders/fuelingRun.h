#pragma once
// One order on its way from the /fueling request (or its take-over after a restart) to its final
// notice: the order as kept in the state file, where it stands, and its own controller session.
// The request (fueling) fills it and answers the platform; the delivery (delivery) decides, starts,
// watches, settles and gives the pump back with the same object, on the same thread.
#include <cstdint>
#include <memory>
#include <string>

#include "cntlMsgResult.h"
#include "orderRecord.h"
#include "pcuControl.h"
#include "servedOrders.h"
#include "trkState.h"

namespace azs_apps {

struct fuelingRun : state::orderRecord {
    // What the request does with the pump once the client has its answer.
    enum state : int {
        startRequested = 1,  // start the reserved pump, then watch it
        cancelOrder = 2,     // give the pump back and cancel the order
        watchOnly = 3,       // the pump already runs this order: only watch
        settleDelivery = 4,  // the delivery is over: settle it
    };

    std::string extDate;  // when the request decided what to do

    // --- where the request stands ----------------------------------------------------------
    int runState = startRequested;
    std::string reason;     // of the cancellation
    std::string errorText;  // answered instead of a check's own text
    std::string clientMsg;  // for the driver
    bool msgPending = false;
    bool startFailed = false;
    bool settledAtStart = false;  // the delivery was over and matched the order on arrival
    bool finalSent = false;       // the one completion or cancellation of the order is out
    bool resumed = false;         // taken over at start-up from a process that ended mid-order
    // The pump has moved on to another order (another tag, or another transaction under this
    // order's tag): nothing more is sent to it for this order.
    bool moved = false;
    int32_t startTrannum = 0;  // the transaction the start answered with, when it named one

    // --- the order's row in the state file, for a take-over after a crash ------------------
    std::shared_ptr<azs_apps::state::servedOrders> served;
    int64_t servedId = 0;  // 0: not kept

    // --- controller and pump ---------------------------------------------------------------
    std::unique_ptr<pcudata::pcuControl> session;
    pcudata::cntlMsgResult res;  // answer to the last command
    int err = 0;                 // error number of the last command
    pcudata::trkState_t* rec = nullptr;
    pcudata::pcuControl* table = nullptr;  // the reader of the pump table (the prototype session)

    // The pump's status as the web side may take it: 0 (no link) while the pump table is stale.
    int32_t status() const { return table->statusOf(rec); }
    bool idle() const { return pcudata::trkStatus::idle(status()); }
    // Delivered so far, litres.
    double delivered() const { return static_cast<double>(pcudata::peek(rec->volume)) / 1000.0; }

    void setMessage(const std::string& text)
    {
        clientMsg = text;
        msgPending = true;
    }

    // The pump's record still carries this order: its tag, and once known its transaction (the
    // reservation's, or the one the start answered with).
    bool owns() const;
    // owns(); once it fails, moved is set and stays so.
    bool mayAct();

    // --- commands on the request's session; true when the controller carried them out ------
    // None is sent once the pump has moved on to another order.
    // One connection attempt; a session that is still not connected is closed.
    bool connected();
    bool stop();
    bool testLock();
    bool release();
    bool print();
    bool changePayment();
    void freshResult();
};

// Litres and roubles as the fuelling log lines write them: six decimals ("%f").
inline std::string sixDecimals(double v)
{
    return std::to_string(v);
}

}  // namespace azs_apps
