#include "faultInjector.h"

#include <signal.h>

#include <algorithm>

#include "soakClock.h"

namespace soak {

namespace {

// Commands after which fuelweb is killed: every hold and every step that gives one back.
const char* const KILL_POINTS[] = {"PWORK", "PSET", "WPWRK", "CHPMT", "PRNQ", "STOP", "TSTBD"};
// Longer than the age at which the web side takes the pump table as stale (30 s).
constexpr double STALE_PAUSE_SEC = 33;

}  // namespace

faultInjector::faultInjector(soakStation& s, uint32_t seed) : station(s)
{
    std::seed_seq seq{seed, 1000u};
    rng.seed(seq);
}

double faultInjector::uniform(double from, double to)
{
    return std::uniform_real_distribution<double>(from, to)(rng);
}

void faultInjector::note(const std::string& what)
{
    events.push_back({runClock().now(), what});
}

void faultInjector::run(const std::atomic<bool>& stop)
{
    while (!stop) {
        const double gap = uniform(3, 12);
        const double end = runClock().now() + gap;
        while (!stop && runClock().now() < end) wait(0.1);
        if (!stop) injectOne();
    }
}

void faultInjector::injectOne()
{
    const double pick = uniform(0, 100);
    if (pick < 35) {
        killFuelweb();
    } else if (pick < 40) {
        reloadFuelweb();
    } else if (pick < 65) {
        stopDaemon();
    } else if (pick < 90) {
        startOutage();
    } else {
        cutController();
    }
}

void faultInjector::killFuelweb()
{
    if (uniform(0, 1) < 0.5) {
        const char* command = KILL_POINTS[std::uniform_int_distribution<size_t>(
            0, sizeof KILL_POINTS / sizeof KILL_POINTS[0] - 1)(rng)];
        station.killFuelwebAfter(command);
        const double end = runClock().now() + 15;
        while (runClock().now() < end && station.fuelwebRunning()) wait(0.01);
        if (station.disarmKill()) {
            ++counts.fuelwebKillsAtCommand;
            note(std::string("fuelweb killed after ") + command);
        } else {
            note(std::string("fuelweb killed (no ") + command + " within 15 s)");
        }
    } else {
        note("fuelweb killed");
    }
    station.killFuelweb();
    ++counts.fuelwebKills;
    wait(uniform(0.2, 3));
    restartFuelweb();
}

void faultInjector::restartFuelweb()
{
    std::string error;
    if (!station.startFuelweb(error)) {
        lastError = error;
        note("fuelweb does not start again: " + error);
        return;
    }
    note("fuelweb started");
}

void faultInjector::reloadFuelweb()
{
    station.signalFuelweb(SIGHUP);
    ++counts.fuelwebReloads;
    note("fuelweb reloaded (SIGHUP)");
}

void faultInjector::stopDaemon()
{
    const bool kill = uniform(0, 1) < 0.6;
    station.stopDaemon(kill ? SIGKILL : SIGTERM);
    ++(kill ? counts.daemonKills : counts.daemonStops);
    const double down = uniform(0, 1) < 0.15 ? STALE_PAUSE_SEC + uniform(0, 5) : uniform(0.3, 6);
    note(std::string(kill ? "daemon killed" : "daemon stopped") + " for " + std::to_string(down) + " s");
    wait(down);
    std::string error;
    if (!station.startDaemon(error)) {
        lastError = error;
        note("the daemon does not start again: " + error);
        return;
    }
    note("daemon started");
}

void faultInjector::startOutage()
{
    if (outageEnd >= 0) return;
    const double length = uniform(3, 40);
    outageBegin = runClock().now();
    outageEnd = outageBegin + length;
    station.platformAnswers(503);
    ++counts.outages;
    note("platform refuses notices for " + std::to_string(length) + " s");
}

void faultInjector::cutController()
{
    station.pcu.closeControlConnections();
    ++counts.controllerCuts;
    note("controller's control connections cut");
}

// A program that ends without being killed has crashed: it is counted and started again.
void faultInjector::restartWhatEnded()
{
    int status = 0;
    if (station.fuelwebEnded(status)) {
        ++counts.crashes;
        note("fuelweb ended by itself with status " + std::to_string(status));
        restartFuelweb();
    }
    if (station.daemonEnded(status)) {
        ++counts.crashes;
        note("the daemon ended by itself with status " + std::to_string(status));
        std::string error;
        if (!station.startDaemon(error)) lastError = error;
    }
}

void faultInjector::tick()
{
    restartWhatEnded();
    if (outageEnd < 0 || runClock().now() < outageEnd) return;
    station.platformAnswers(200);
    counts.outageSeconds += runClock().now() - outageBegin;
    outageEnd = -1;
    note("platform accepts notices again");
}

void faultInjector::wait(double seconds)
{
    const double end = runClock().now() + seconds;
    do {
        tick();
        pause(std::min(0.05, end - runClock().now()));
    } while (runClock().now() < end);
}

bool faultInjector::calm(std::string& error)
{
    outageEnd = outageEnd >= 0 ? runClock().now() : -1;
    tick();
    station.disarmKill();
    if (!station.fuelwebRunning()) {
        station.killFuelweb();  // reaps one that an armed kill ended
        if (!station.startFuelweb(error)) return false;
        note("fuelweb started for the settling");
    }
    if (!station.daemonRunning() && !station.startDaemon(error)) return false;
    return true;
}

}  // namespace soak
