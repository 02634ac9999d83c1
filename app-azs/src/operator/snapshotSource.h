#pragma once
// Where the station's snapshot is made, for every route of the operator's listener: the pump
// table (attached as the service attaches it), the state file (a connection of its own, opened
// for writing so that its writability can be tried, and only read otherwise), the controller
// probe, and the log's last error lines.
//
// The state file's writability is tried at most every WRITE_CHECK_SEC seconds (an empty write
// transaction, begun and rolled back), the controller by its probe's own thread: a page asking
// every second costs a few reads of memory and of the state file, nothing on the controller.
//
// One snapshot is made at a time; the object may be used from any thread.
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "controllerProbe.h"
#include "pcuControl.h"
#include "settings.h"
#include "stateDb.h"
#include "stationSnapshot.h"

namespace azs_apps {

class snapshotSource {
public:
    static constexpr time_t WRITE_CHECK_SEC = 5;
    // At most this many undelivered notices are listed (all are counted).
    static constexpr size_t NOTICES_LISTED = 100;

    // cfg: the cycle's settings; probe: the cycle's probe of the controller. Both outlive this.
    snapshotSource(const settings& cfg, controllerProbe& probe);
    snapshotSource(const snapshotSource&) = delete;
    snapshotSource& operator=(const snapshotSource&) = delete;

    stationSnapshot take();

private:
    const settings& cfg;
    controllerProbe& probe;
    pcudata::pcuControl pcu;  // the pump table
    std::unique_ptr<state::stateDb> db;
    time_t startedAt;
    int64_t lastRenewal = 0;  // the last dataTime seen that was not 0
    bool writable = false;
    time_t writeCheckedAt = 0;
    std::mutex m;

    void readTable(stationSnapshot& s);
    void readPumps(stationSnapshot& s);
    void readOrders(stationSnapshot& s);
    void readNotices(stationSnapshot& s);
    void readController(stationSnapshot& s);
    void readErrors(stationSnapshot& s);
    void checkWritable(time_t now);
    std::vector<std::string> secrets(const stationSnapshot& s);
};

// The warnings of a snapshot: a stale pump table, a lost controller link, notices the platform
// has not taken for stationSnapshot::NOTICE_WARN_SEC.
std::vector<warningView> warningsOf(const stationSnapshot& s);

}  // namespace azs_apps
