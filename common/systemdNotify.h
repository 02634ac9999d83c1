#pragma once
// The service manager's notification protocol (sd_notify): readiness, reloading, stopping, a status
// line and the watchdog's pings. Outside systemd (no NOTIFY_SOCKET in the environment) every call
// does nothing, so the programs run as before from a shell or a test.
#include <cstdint>
#include <string>

namespace pcudata {
namespace systemdNotify {

// Sends assignments such as "READY=1" or "STATUS=..." (several separated by newlines). True when
// systemd was told; false outside systemd or when the message could not be sent.
bool send(const std::string& state);
// The watchdog period systemd expects pings within (WatchdogSec), in microseconds; 0 when the
// process runs without a watchdog.
int64_t watchdogUs();

}  // namespace systemdNotify
}  // namespace pcudata
