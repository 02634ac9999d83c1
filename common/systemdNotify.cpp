#include "systemdNotify.h"

#include <systemd/sd-daemon.h>

namespace pcudata {
namespace systemdNotify {

bool send(const std::string& state)
{
    // The environment stays as it is: threads started later may notify too.
    return sd_notify(0, state.c_str()) > 0;
}

int64_t watchdogUs()
{
    uint64_t us = 0;
    return sd_watchdog_enabled(0, &us) > 0 ? static_cast<int64_t>(us) : 0;
}

}  // namespace systemdNotify
}  // namespace pcudata
