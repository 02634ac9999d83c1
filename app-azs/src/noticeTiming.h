#pragma once
// When the final notices that the retrying wrappers gave up on are sent again, and when they are
// given up for good: "fuelweb.notice_resend_interval" (seconds, default 600) and
// "fuelweb.notice_resend_days" (default 7). Read by the service and by fuelwebctl, in a file of its
// own so that fuelwebctl does not link the service's notice sender.
#include "outbox.h"
#include "webConfig.h"

namespace azs_apps {

state::outboxTiming noticeTiming(const webConfig& cfg);

}  // namespace azs_apps
