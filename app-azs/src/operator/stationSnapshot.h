#pragma once
// The station at one moment, as the operator sees it: the pumps, the orders being served, the
// final notices the platform has not taken, the controller link, the pump table's age, the last
// error lines and what deserves a warning. Built in one place (snapshotSource) and read by the
// page (through its JSON), by /status.json, by /health and by /metrics, so that they never
// disagree.
//
// Plain data. It never holds an api key nor a whole client key: a pump's client key is cut to a
// prefix (clientKeyPrefix) before it gets here.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace azs_apps {

struct pumpView {
    int number = 0;
    int status = 0;  // as the service acts on it: 0 while the pump table is stale
    std::string statusText;
    int nozzle = 0;  // the hose in use
    int product = 0;
    std::string productName;
    double litres = 0.0;  // of the current (or last) delivery
    double money = 0.0;
    bool blocked = false;  // closed to remote orders
    std::string orderTag;  // the order the pump carries, empty when none
    std::string clientKeyPrefix;
    int64_t tagAgeSec = -1;  // -1: no tag
};

struct orderView {
    std::string orderId;
    int pump = 0;
    std::string stage;  // "reserved", or the stage of the order being served
    double litres = 0.0;
    int64_t ageSec = 0;
};

struct noticeView {
    std::string orderId;
    std::string kind;   // "complete", "cancel"
    std::string state;  // "pending", "abandoned"
    int attempts = 0;
    int64_t lastAnswer = 0;  // the platform's last HTTP status, 0 when none came
    time_t nextAttemptAt = 0;
    int64_t ageSec = 0;
};

struct controllerView {
    std::string address;  // host:port of the control port
    bool probed = false;
    bool connected = false;
    double roundTripMs = 0.0;
    int64_t checkedAgoSec = -1;
};

struct tableView {
    bool attached = false;  // the segment could be attached
    bool fresh = false;     // renewed by the monitor daemon within pcuControl::TABLE_STALE_SEC
    int64_t ageSec = -1;    // -1: the daemon is gone (or never was)
    // Since the table was last seen renewed, also when the daemon is gone: from the last renewal
    // this listener saw, or from its own start when it saw none.
    int64_t sinceRenewedSec = 0;
};

struct warningView {
    std::string check;  // "pump_table", "controller", "notices"
    std::string text;
};

struct stationSnapshot {
    // A notice not delivered for this long is a warning.
    static constexpr int64_t NOTICE_WARN_SEC = 300;

    time_t takenAt = 0;
    std::vector<pumpView> pumps;  // the pumps the monitor daemon publishes
    std::vector<orderView> orders;
    std::vector<noticeView> notices;
    int noticesPending = 0;
    int noticesAbandoned = 0;
    int noticesLate = 0;  // undelivered for NOTICE_WARN_SEC or longer
    int64_t oldestPendingSec = 0;
    controllerView controller;
    tableView table;
    bool stateFileWritable = false;
    std::vector<std::string> errors;  // the last error lines of the log, oldest first
    std::vector<warningView> warnings;
};

// What of a client key may be shown: at most its first 4 characters and never more than half of
// it, so that a short key is not shown whole.
std::string clientKeyPrefix(const std::string& key);

}  // namespace azs_apps
