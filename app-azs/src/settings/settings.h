#pragma once
// The service's settings, read once from the configuration file at the start of each service
// cycle (and for the operator's command), with their defaults and their checks, and handed down:
// each part of the service gets the part it reads and nothing more.
//
//   "service.*", "logging.*"   the HTTP service itself, checked strictly (serviceSettings)
//   "fuelweb.script"           path below which the requests are served, default "/api/fuelweb"
//   "fuelweb.upstream_key"     the server key the platform presents (second part of "apikey")
//   "fuelweb.ctl_key"          the station key the platform presents (third part)
//   "fuelweb.upstream_endpoint", "fuelweb.upstream_verify_tls", "fuelweb.upstream_ca_file"
//                              where the platform is, and how far its certificate is trusted
//   "fuelweb.ctl_*", "fuelweb.order_timeout", "fuelweb.tmp_path"
//                              the controller and the pump table (controllerSettings)
//   "fuelweb.state_path", "fuelweb.notice_resend_interval", "fuelweb.notice_resend_days",
//   "fuelweb.journal_keep_days" the state file (see durableState)
//   "fuelweb.operator.ip", "fuelweb.operator.port"
//                              the operator's listener (operatorSettings)
//   "service.bench_route"      a constant route for benchmarks of the HTTP layer
//
// A "fuelweb" key that is absent or of another type takes its default (the reader says so once,
// see webConfig::logNewWarnings); a "service" or "logging" key that does not fit stops the start.
#include <cstdint>
#include <string>

#include "outbox.h"
#include "pcuControl.h"
#include "serviceSettings.h"
#include "upstreamTransfer.h"
#include "webConfig.h"

namespace azs_apps {

// The controller's part: the controller's address, the workplace, the payment codes (a missing one
// borrowed from the others), the post-payment permission, the order timeout, the pump table's key
// file and the delivery limits. A prototype controller session carries them (applyTo).
struct controllerSettings {
    std::string host = "127.0.0.1";  // "fuelweb.ctl_addr", shared with the monitor daemon
    unsigned port = 65520;           // "fuelweb.ctl_port"
    int32_t wplace = 20;             // "fuelweb.ctl_wplace"
    // "fuelweb.ctl_wplace_type": the workplace type the station registers with by default. A
    // session that no configuration reached keeps its own built-in type, 14 (pcuControl): the two
    // differ, and each is written once.
    int32_t wplaceType = 4;
    int32_t pmt = 8880;  // "fuelweb.ctl_pmtcod", "..._corp", "..._pers", resolved
    int32_t corpPmt = 8880;
    int32_t persPmt = 8880;
    bool postpayAllowed = false;        // "fuelweb.ctl_postpay_allow"
    int32_t orderTimeout = 120;         // "fuelweb.order_timeout", seconds; 0: no start timeout
    std::string keyFile;                // the pump table's key file: "fuelweb.tmp_path" + "/trkstat.mem"
    double underfill = -1.0;            // "fuelweb.ctl_underfill_order"
    double overfill = 0.0;              // "fuelweb.ctl_overfill_order"
    double overfillLock = 0.5;          // "fuelweb.ctl_overfill_lock"
    double overfillLockMinOrder = 5.0;  // "fuelweb.ctl_overfill_lock_min_order"
    bool overfillLockAllowed = false;   // "fuelweb.ctl_overfill_lock_allow"
    bool autocafeAllowed = false;       // "fuelweb.ctl_autocafe_allow"

    static controllerSettings read(const webConfig& cfg);
    // Stores the settings into a prototype session, as its setters take them (an overfill setter
    // ignores a negative value; a lock amount not above 0 switches the overfill lock off).
    void applyTo(pcudata::pcuControl& prototype) const;
};

// The operator's listener: the station's own page, status, health and metrics, apart from the
// platform's API. Checked strictly like the "service" keys (a listener on another address or port
// than written would be found out only by accident): a value that does not fit stops the start.
struct operatorSettings {
    static constexpr int32_t DEFAULT_PORT = 8081;
    std::string ip = "127.0.0.1";  // "fuelweb.operator.ip", a non-empty string
    int32_t port = DEFAULT_PORT;   // "fuelweb.operator.port", 0..65535; 0: no operator listener

    bool enabled() const { return port != 0; }
    // Throws configError for a value that does not fit.
    static operatorSettings read(const webConfig& cfg);
};

struct settings {
    serviceSettings service;
    operatorSettings operatorListener;
    std::string script = "/api/fuelweb";
    std::string upstreamKey;
    std::string ctlKey;
    upstream::settings platform;
    controllerSettings controller;
    std::string statePath = DEFAULT_STATE_PATH;
    state::outboxTiming noticeTiming;  // resend interval and how long a notice is kept
    int32_t journalKeepDays = 400;     // 0: for ever
    bool benchRoute = false;

    static constexpr const char* DEFAULT_STATE_PATH = "/var/lib/fuelgate/state.db";

    // Throws configError when a "service" or "logging" key does not fit.
    static settings read(const webConfig& cfg);
};

}  // namespace azs_apps
