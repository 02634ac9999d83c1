#pragma once
// The line systemd shows for the service (systemctl status fuelweb, STATUS=): the pumps the table
// publishes, the orders being watched and whether the monitor keeps the table fresh. Read from an
// attachment of the pump table of its own, made from the cycle's settings.
#include <mutex>
#include <string>

#include "pcuControl.h"

namespace azs_apps {

struct settings;

class serviceStatus {
public:
    explicit serviceStatus(const settings& cfg);
    serviceStatus(const serviceStatus&) = delete;
    serviceStatus& operator=(const serviceStatus&) = delete;

    // Safe from any thread.
    std::string text();

private:
    std::mutex m;
    pcudata::pcuControl table;
    bool attached = false;
};

}  // namespace azs_apps
