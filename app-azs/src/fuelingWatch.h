#pragma once
// The second half of a /fueling request: follows the pump from the start to the end of the
// delivery and settles the order with the controller and the platform.
//
// The record of the pump is read every 10 ms without its lock. Progress marks of the monitor
// daemon (notifyDue) become volume counts for the platform, status changes become short messages
// for the driver (at most one per 3 s while fuel flows, one per 2 s while the pump waits for the
// nozzle), and a pump that is not started within the order timeout, counted from the tagging of
// the order, is stopped. At the end the order is completed (payment lock, receipt, overfill lock)
// or cancelled (stop and release of the pump). Every end clears the order's tag, closes the
// session and sends exactly one final notice, repeated until the platform takes it.
//
// The watch has no time limit: a pump that lost its link to the controller (or the controller its
// pumps) may have delivered fuel, so such an order is never cancelled for it; the operator gets a
// warning every few minutes while the pump shows no progress.
#include <Poco/Logger.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "fuelingRun.h"
#include "notices.h"
#include "outbox.h"
#include "paymentLock.h"

namespace azs_apps {

class fuelingWatch {
public:
    // A pump without progress is reported this often (seconds).
    static constexpr time_t STALL_WARN_SEC = 300;
    // Start timeout of an order taken over on a pump that is still reserved, when the order
    // timeout is off (seconds).
    static constexpr time_t RESERVED_TIMEOUT_SEC = 120;

    // serverKey, stationKey: the configured keys, from which the completion's key is rebuilt.
    fuelingWatch(fuelingRun& run, pcudata::pcuControl& prototype, upstream::notices& platform,
                 const std::string& serverKey, const std::string& stationKey);

    // A delivery that was already over when the request came (run state 4). True when it matched
    // the order and the order has been completed; otherwise the run state says what follows: 2
    // (cancel) or 4 (the watch settles it).
    bool settleFinished();
    // Run state 2 decided before the watch: give the pump back and cancel the order.
    void cancelBeforeWatch();
    // Run states 1 (after the start), 3 and 4: follow the pump to the end and settle the order.
    void watchAndSettle();
    // Clears the tag, closes the session and sends the cancellation with the run's reason.
    void endCancelled();
    // Cancellation of an order whose watch has ended (run state 2): the pump is given back, or a
    // delivery it waits to settle is completed after all.
    void cancelAfterWatch();
    // Clears the tag, closes the session and sends this completion.
    void endCompleted(const std::string& apikey, const std::string& trannum, const std::string& date,
                      double volume);

    // The order's row in the state file learns the end decided on, before the pump is settled or
    // given back: a process that takes the order over after a crash finishes that end.
    void noteCancellation();
    void noteCompletion(const std::string& apikey, const std::string& trannum, const std::string& date,
                        double volume);

private:
    fuelingRun& run;
    pcudata::pcuControl& prototype;
    upstream::notices& platform;
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

    // --- the watch (fuelingWatch.cpp) ----------------------------------------------------------
    void watch();
    void pass();
    void flowing(int32_t status);
    void waiting(int32_t status);
    bool stays(int32_t status);
    bool startTimedOut(time_t timeout) const;
    void reservedOnly();
    void stopAfterTimeout();
    void endOfDelivery();
    void sendVolume();
    void sendMessage();
    void noteProgress(int32_t status);

    // --- settlement (fuelingWatch_settle.cpp) --------------------------------------------------
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
    void endWith(const state::finalNotice& n);
    void closeServed();
    void noteEnd(const state::finalNotice& n);
};

}  // namespace azs_apps
