#pragma once
// The one owner of an order's delivery, from the moment /fueling has answered the platform (or the
// order has been taken over at start-up) to the order's final notice: what to do with the pump
// (decide), its start, the watch of the delivery, its settlement, and the give-back of the pump.
//
// The record of the pump is read without its lock. Progress marks of the monitor daemon
// (notifyDue) become volume counts for the platform, status changes become short messages for the
// driver (at most one per 3 s while fuel flows, one per 2 s while the pump waits for the nozzle),
// and a pump that is not started within the order timeout, counted from the tagging of the order,
// is stopped. At the end the order is completed (payment lock, receipt, overfill lock) or
// cancelled (stop and release of the pump). Every end clears the order's tag, closes the session
// and sends exactly one final notice, repeated until the platform takes it.
//
// The watch has no time limit: a pump that lost its link to the controller (or the controller its
// pumps) may have delivered fuel, so such an order is never cancelled for it; the operator gets a
// warning every few minutes while the pump shows no progress.
#include <Poco/Logger.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "fuelingRun.h"
#include "notices.h"
#include "outbox.h"
#include "paymentLock.h"
#include "pumpHolds.h"
#include "servedOrders.h"
#include "upstreamTransfer.h"

namespace azs_apps {

// What a delivery needs of the service: the controller's settings and the pump table, the
// platform, and the configured keys from which the completion's key is rebuilt.
struct deliveryContext {
    pcudata::pcuControl& pcu;  // the prototype session: settings and the pump table, never commands
    upstream::settings platform;
    std::string serverKey;
    std::string stationKey;
};

class delivery {
public:
    static constexpr int START_ATTEMPTS = 5;
    // A pump without progress is reported this often (seconds).
    static constexpr time_t STALL_WARN_SEC = 300;
    // Start timeout of an order taken over on a pump that is still reserved, when the order
    // timeout is off (seconds).
    static constexpr time_t RESERVED_TIMEOUT_SEC = 120;

    // run: the order with its session; its record pointer and table reader are set here.
    delivery(const deliveryContext& ctx, fuelingRun& run);

    // /fueling, once the platform has its answer: decides, starts, watches and settles.
    void afterAnswer();
    // An order that a process ended during (its row in the state file, its tag still on the pump),
    // followed to its final notice on the calling thread, which holds the order's claim. The pump
    // is never started again.
    void takeOver(const state::servedOrder& o);

private:
    fuelingRun& run;
    pcudata::pcuControl& prototype;
    upstream::notices platform;
    paymentLock payLock;
    Poco::Logger& log;
    std::string completionKey;  // client key, server key, station key

    // --- watch variables ---------------------------------------------------------------------
    bool started = false;  // fuel has flowed: the start timeout no longer applies
    bool done = false;
    time_t now = 0;
    time_t lastMsgTime = 0;
    time_t startRef = 0;  // when the order was tagged
    // Last change of status or volume, for the warning about a pump without progress.
    int32_t seenStatus = -2;
    int64_t seenVolume = -2;
    time_t lastProgress = 0;
    time_t lastStallWarn = 0;
    double lastOwnLitres = 0.0;   // delivered while the pump served this order
    time_t staleSince = 0;        // the pump table has been stale since then; 0: it is fresh
    time_t timeoutStopAt = 0;     // when the start timeout's stop went out
    bool timeoutPending = false;  // stopped at the timeout, the outcome waits for a renewed table
    int64_t renewedAt = 0;        // table time first seen renewed after that stop

    // --- the road after the answer (delivery.cpp) ----------------------------------------------
    void waitForFreshTable();
    int32_t waitForStatus() const;
    void decide(int32_t status);
    void decideResumed(int32_t status);
    bool startPump();
    bool startAttempt(int attempt);
    bool startWentThrough();
    void putBack();
    void afterDecision();

    // --- the watch (delivery_watch.cpp) --------------------------------------------------------
    void watchAndSettle();
    void watch();
    void pass();
    void flowing(int32_t status);
    void waiting(int32_t status);
    bool stays(int32_t status);
    bool tableSeen();
    bool startTimedOut(time_t timeout) const;
    void reservedOnly();
    void stopAfterTimeout();
    void judgeTimeoutStop();
    void endOfDelivery();
    void sendVolume();
    void sendMessage();
    void noteProgress(int32_t status);

    // --- settlement and the ends (delivery_settle.cpp) -----------------------------------------
    // A delivery that was already over when the request came (run state 4). True when it matched
    // the order and the order has been completed; otherwise the run state says what follows: 2
    // (cancel) or 4 (the watch settles it).
    bool settleFinished();
    // Run state 2 decided before the watch: give the pump back and cancel the order.
    void cancelBeforeWatch();
    // Cancellation of an order whose watch has ended (run state 2): the pump is given back, or a
    // delivery it waits to settle is completed after all.
    void cancelAfterWatch();
    bool deliveryMatches() const;
    bool lockForSettlement();
    bool settlePasses(bool& changed);
    void complete();
    void freeBusyPump();
    void stopPump();
    bool paymentHolds();
    void settleDeliveredAnyway();
    bool lockForCompletion();
    bool paymentDueHere() const;
    bool ownPaymentLock() const;
    bool lockShownForUs(bool justLocked);
    void printReceipt();
    void printWhileUnpaid();
    void overfillLock();
    void clearTag();
    bool tagged() const;
    void closeOrder();
    // Clears the tag, closes the session and sends the cancellation with the run's reason.
    void endCancelled();
    // Clears the tag, closes the session and sends this completion.
    void endCompleted(const std::string& apikey, const std::string& trannum, const std::string& date,
                      double volume);
    void endWith(const state::finalNotice& n);
    void closeServed();
    // The order's row in the state file learns the end decided on, before the pump is settled or
    // given back: a process that takes the order over after a crash finishes that end.
    void noteCancellation();
    void noteCompletion(const std::string& apikey, const std::string& trannum, const std::string& date,
                        double volume);
    void noteEnd(const state::finalNotice& n);
    bool intendPaymentLock();
    void givePaymentBack();
    void endTaken();
    std::unique_ptr<state::holdIntent> paymentIntent;  // the payment lock this order takes
};

}  // namespace azs_apps
