#include "noticeTiming.h"

namespace azs_apps {

namespace {

constexpr int32_t DEFAULT_RESEND_SEC = 600;
constexpr int32_t DEFAULT_RESEND_DAYS = 7;

}  // namespace

state::outboxTiming noticeTiming(const webConfig& cfg)
{
    state::outboxTiming t;
    int32_t every = cfg.getInt("fuelweb.notice_resend_interval", DEFAULT_RESEND_SEC);
    int32_t days = cfg.getInt("fuelweb.notice_resend_days", DEFAULT_RESEND_DAYS);
    t.resendSec = every > 0 ? every : DEFAULT_RESEND_SEC;
    t.keepSec = static_cast<time_t>(days > 0 ? days : DEFAULT_RESEND_DAYS) * 86400;
    return t;
}

}  // namespace azs_apps
