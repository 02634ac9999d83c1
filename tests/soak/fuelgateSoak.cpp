// The randomized soak of the whole station: customers place orders on several pumps at once and
// drive them at the simulated pumps, while fuelweb and the monitor daemon are killed and started
// again, the platform refuses notices for a while and the controller's connections are cut. Then
// the faults stop, the station settles, and every order is checked against what the platform
// received and what the pumps delivered. Exit status 0 when nothing was lost, duplicated, wrongly
// counted or left held; 1 when something was; 2 when the station could not be run.
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "customer.h"
#include "deliveryTracker.h"
#include "faultInjector.h"
#include "soakCheck.h"
#include "soakClock.h"
#include "soakOptions.h"
#include "soakStation.h"

using namespace soak;

namespace {

constexpr int ORDER_TIMEOUT_SEC = 20;
constexpr int RESEND_INTERVAL_SEC = 5;
// After the station has settled: long enough for a notice sent twice to show up.
constexpr double AFTER_SETTLE_SEC = 8;

// Waits until every reserved order has its final notice and no pump is held, or the time is up.
bool settle(const orderBook& book, soakStation& station, int seconds)
{
    const double end = runClock().now() + seconds;
    std::string waiting;
    double lastSaid = runClock().now();
    while (runClock().now() < end) {
        if (settled(book.all(), station, waiting)) return true;
        if (runClock().now() - lastSaid >= 30) {
            std::printf("soak: %.0f s, settling: %s\n", runClock().now(), waiting.c_str());
            std::fflush(stdout);
            lastSaid = runClock().now();
        }
        pause(1);
    }
    std::printf("soak: not settled after %d s: %s\n", seconds, waiting.c_str());
    return false;
}

void printSummary(const soakOptions& opt, double ran, double settling, const verdict& v, const faultCounts& f)
{
    std::printf("soak: seed %u, %.0f s of orders and faults (+%.0f s to settle), %d pumps, %d customers\n",
                opt.seed, ran, settling, opt.pumps, opt.customers);
    std::printf(
        "soak: orders placed %d: reserved %d, refused %d, unanswered %d; started %d (/fueling refused %d, "
        "unanswered %d); completed %d, cancelled %d; post-paid %d (completed %d)\n",
        v.placed, v.reserved, v.refused, v.unknownPlacement, v.started, v.fuelingRefused, v.fuelingUnknown,
        v.completed, v.cancelled, v.postPaid, v.postPaidCompleted);
    std::printf(
        "soak: faults: fuelweb kills %d (%d right after a controller command), fuelweb reloads %d, daemon "
        "kills "
        "%d (SIGKILL %d, SIGTERM %d), platform outages %d (%.0f s), controller cuts %d; cancels sent %d; "
        "notice attempts refused by the platform %d\n",
        f.fuelwebKills, f.fuelwebKillsAtCommand, f.fuelwebReloads, f.daemonKills + f.daemonStops,
        f.daemonKills, f.daemonStops, f.outages, f.outageSeconds, f.controllerCuts, v.cancelsSent,
        v.refusedAttempts);
    for (const auto& r : v.refusals) std::printf("soak:   refused %3d x %s\n", r.second, r.first.c_str());
    std::printf("soak: lost %d, duplicated %d, wrong litres %d, unexpected notices %d, pumps left held %d\n",
                v.lost, v.duplicated, v.wrongLitres, v.unexpected, v.pumpsHeld);
}

void printFailure(soakStation& station, const verdict& v, const faultInjector& faults)
{
    std::printf("\n== what went wrong\n");
    for (const std::string& p : v.problems) std::printf("%s\n", p.c_str());
    std::printf("== faults injected\n");
    for (const faultEvent& e : faults.events) std::printf("  %.2f s %s\n", e.at, e.what.c_str());
    std::printf("\n== fuelwebctl status\n%s", station.fuelwebctl({"status"}).c_str());
    std::printf("\n== fuelwebctl pending\n%s", station.fuelwebctl({"pending"}).c_str());
    size_t shown = 0;
    for (const std::string& id : v.failingOrders) {
        if (++shown > 10) break;
        std::printf("\n== fuelwebctl order %s\n%s", id.c_str(), station.fuelwebctl({"order", id}).c_str());
    }
}

// Every order and every fault of the run, into the run's directory (kept when the run fails).
void writeReport(soakStation& station, const std::string& orders, const faultInjector& faults)
{
    std::ofstream out(station.dir() + "/soak-report.txt");
    out << "== faults\n";
    for (const faultEvent& e : faults.events) out << "  " << e.at << " s " << e.what << "\n";
    out << "\n== orders\n" << orders;
}

int runSoak(const soakOptions& opt)
{
    stationSettings settings;
    settings.binDir = opt.binDir;
    settings.pumps = opt.pumps;
    settings.orderTimeout = ORDER_TIMEOUT_SEC;
    settings.resendInterval = RESEND_INTERVAL_SEC;
    soakStation station(settings);
    std::string error;
    if (!station.start(error)) {
        std::fprintf(stderr, "soak: the station does not start: %s (files in %s)\n", error.c_str(),
                     station.dir().c_str());
        station.keepFiles();
        return 2;
    }
    std::printf("soak: station up in %s (fuelweb on port %u)\n", station.dir().c_str(), station.webPort());
    std::fflush(stdout);

    deliveryTracker tracker(station.pcu, station.pumpNumbers());
    orderBook book;
    std::atomic<bool> stop{false};
    std::atomic<int> ordered{0};
    customerTown town{station, book, stop, ordered, opt.seed, ORDER_TIMEOUT_SEC};
    std::vector<std::unique_ptr<customer>> customers;
    std::vector<std::thread> threads;
    for (int n = 1; n <= opt.customers; ++n) customers.push_back(std::make_unique<customer>(n, town));
    faultInjector faults(station, opt.seed);
    const double began = runClock().now();
    for (auto& c : customers) threads.emplace_back([&c] { c->run(); });
    std::thread injector([&] { faults.run(stop); });

    pause(opt.seconds);
    stop = true;
    injector.join();
    const double ran = runClock().now() - began;
    std::printf("soak: %.0f s, faults stopped, %d orders placed; settling\n", runClock().now(),
                ordered.load());
    std::fflush(stdout);
    if (!faults.calm(error)) {
        std::fprintf(stderr, "soak: the station does not come back: %s\n", error.c_str());
    }
    for (std::thread& t : threads) t.join();
    const bool calm = settle(book, station, opt.settleSeconds);
    if (calm) pause(AFTER_SETTLE_SEC);
    const double settling = runClock().now() - began - ran;

    const verdict v = judge(book.all(), station, tracker);
    writeReport(station, orderReport(book.all(), station, tracker), faults);
    printSummary(opt, ran, settling, v, faults.counts);
    if (!faults.lastError.empty()) std::printf("soak: a restart failed: %s\n", faults.lastError.c_str());
    if (faults.counts.crashes > 0)
        std::printf("soak: fuelweb or the daemon ended by itself %d times\n", faults.counts.crashes);
    const bool passed = v.ok() && calm && faults.counts.crashes == 0;
    if (!passed) {
        printFailure(station, v, faults);
        station.keepFiles();
        std::printf("\nsoak: FAILED with seed %u; fuelweb's log and state file are kept in %s\n", opt.seed,
                    station.dir().c_str());
    } else {
        if (opt.keep) station.keepFiles();
        std::printf("soak: PASSED (seed %u)%s%s\n", opt.seed, opt.keep ? "; files kept in " : "",
                    opt.keep ? station.dir().c_str() : "");
    }
    std::fflush(stdout);
    station.shutdown();
    return passed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    soakOptions opt;
    std::string error;
    if (!opt.parse(argc, argv, error)) {
        std::cerr << "fuelgateSoak: " << error << "\n" << soakOptions::usage();
        return 2;
    }
    if (!opt.seedGiven) opt.seed = std::random_device()();
    std::printf("soak: seed %u, %d s, %d pumps, %d customers, programs from %s\n", opt.seed, opt.seconds,
                opt.pumps, opt.customers, opt.binDir.c_str());
    std::fflush(stdout);
    // A write to a connection that fuelweb closed must not end the soak.
    ::signal(SIGPIPE, SIG_IGN);
    if (!adoptDetachedChildren()) {
        std::cerr << "fuelgateSoak: can't become the reaper of the detached daemon\n";
        return 2;
    }
    return runSoak(opt);
}
