#pragma once
// The faults of the soak, one after another at random moments drawn from a seeded generator:
// fuelweb killed (at a random moment, or right after a given controller command was carried out)
// and started again after a short pause, fuelweb reloaded (SIGHUP), the monitor daemon killed or
// stopped and started again (sometimes only after the pump table has gone stale), the platform
// refusing every notice for a while, the controller's control connections cut.
#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "soakStation.h"

namespace soak {

struct faultCounts {
    int fuelwebKills = 0;
    int fuelwebKillsAtCommand = 0;
    int fuelwebReloads = 0;
    int daemonKills = 0;  // SIGKILL
    int daemonStops = 0;  // SIGTERM
    int outages = 0;
    double outageSeconds = 0;
    int controllerCuts = 0;
    int crashes = 0;  // fuelweb or the daemon ended by itself
};

// A fault as it happened, for the report of a failure.
struct faultEvent {
    double at;
    std::string what;
};

class faultInjector {
public:
    faultInjector(soakStation& station, uint32_t seed);
    // Injects faults until stop comes true.
    void run(const std::atomic<bool>& stop);
    // Ends an outage, makes sure that fuelweb and the daemon run. False when one of them can't start.
    bool calm(std::string& error);

    faultCounts counts;
    std::vector<faultEvent> events;
    std::string lastError;  // a restart that failed

private:
    void injectOne();
    void killFuelweb();
    void reloadFuelweb();
    void stopDaemon();
    void startOutage();
    void cutController();
    void restartFuelweb();
    // Pauses, ending an outage when its time has come.
    void wait(double seconds);
    void tick();
    void restartWhatEnded();
    void note(const std::string& what);
    double uniform(double from, double to);

    soakStation& station;
    std::mt19937 rng;
    double outageEnd = -1;
    double outageBegin = 0;
};

}  // namespace soak
