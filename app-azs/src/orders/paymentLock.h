#pragma once
// The payment lock of a pump: asks the controller to reserve the payment of the pump's finished
// delivery for one order (so that no till takes payment for the same fuel), or to release it.
//
// The order endpoint and the fuelling endpoint use it with small differences, named by the
// caller: the fuelling side first asks the controller's driver version (a driver of version 1 or
// lower knows no payment lock, which then counts as set) and does not count a lock held by its
// own workplace as busy; each side confirms in its own words under its own logger.
#include <Poco/Logger.h>

#include <memory>
#include <string>

#include "cntlMsgResult.h"
#include "pcuControl.h"
#include "trkState.h"

namespace azs_apps {

class paymentLock {
public:
    enum caller { forOrder, forFueling };

    // prototype: the root's session, read for the driver version.
    paymentLock(caller who, pcudata::pcuControl& prototype);

    // lock 1 sets the lock, 0 releases it. Returns 1 when the controller accepted (or, for the
    // fuelling side, when the driver knows no lock); 0 when refused before sending (another
    // workplace holds the pump, no connection) or when the connection failed; -1 without a record
    // or a session; otherwise the controller's refusal code. res holds the controller's answer.
    int _pmt_lock_ptr(std::unique_ptr<pcudata::pcuControl>& session, const pcudata::trkState_t* rec,
                      const std::string& orderId, int lock, pcudata::cntlMsgResult& res);

private:
    caller who;
    pcudata::pcuControl& prototype;
    Poco::Logger& log;

    bool busyElsewhere(const pcudata::pcuControl& session, const pcudata::trkState_t* rec,
                       const std::string& orderId);
};

}  // namespace azs_apps
