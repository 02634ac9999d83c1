#pragma once
// The operator's listener of one service cycle: a second service of our own HTTP front, on its own
// address and port ("fuelweb.operator.ip", "fuelweb.operator.port"; by default 127.0.0.1:8081,
// port 0: none), with its own few worker threads and its own URL table (operatorApp). It shows the
// station (page, status, health, readiness, metrics) and never takes the platform's requests nor
// shows their keys.
//
// The program makes it when a cycle starts, before the cycle takes over the orders an earlier
// process left (so /ready answers 503 meanwhile), marks it ready once the platform's listener
// accepts, and destroys it when the cycle ends, so that the next cycle can bind the same port. A
// port that can't be bound costs an error line: the station serves the platform all the same.
#include <Poco/Logger.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "controllerProbe.h"
#include "settings.h"
#include "snapshotSource.h"
#include "stationSnapshot.h"
#include "webService.h"

namespace azs_apps {

class operatorListener {
public:
    static constexpr int32_t WORKERS = 4;
    static constexpr int32_t MAX_CONNECTIONS = 64;

    // The cycle's listener; null when "fuelweb.operator.port" is 0.
    static std::unique_ptr<operatorListener> forCycle(std::shared_ptr<const settings> cfg);
    // On the configured address and this port (0: one the system picks, for tests).
    operatorListener(std::shared_ptr<const settings> cfg, uint16_t port);
    // Stops listening and waits for the requests being served.
    ~operatorListener();
    operatorListener(const operatorListener&) = delete;
    operatorListener& operator=(const operatorListener&) = delete;

    // Binds and serves on a thread of its own; false (and an error line) when it can't bind.
    bool start();
    // The port listened on; 0 before start() or when it failed.
    uint16_t port() const;

    // The cycle has taken over its orders and its listener for the platform accepts.
    void markReady() { readyFlag = true; }
    bool isReady() const { return readyFlag.load(); }

    stationSnapshot snapshot() { return source.take(); }

private:
    std::shared_ptr<const settings> cfg;
    Poco::Logger& log;
    controllerProbe probe;
    snapshotSource source;
    std::atomic<bool> readyFlag{false};
    std::unique_ptr<webService> svc;
    std::thread runner;
    bool running = false;
};

}  // namespace azs_apps
