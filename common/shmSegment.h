#pragma once
// Attachment to the shared pump table and the per-pump lock protocol.
//
// The daemon and the web service follow the same rules for the segment: whichever attaches first
// creates and initialises it, the other attaches to it unchanged, and nobody removes it. Each of
// them owns one shmSegment and forwards its own segment operations to it; only the lock waits
// differ, and those are described by a lockWait value.
#include <cstdint>
#include <string>

#include "trkState.h"

namespace pcudata {

constexpr const char* SHM_KEY_FILE_NAME = "trkstat.mem";

// The segment's key file in directory dir (the configured "tmp_path"). Both programs derive it here.
std::string shmKeyFile(const std::string& dir);

// How long and how often a caller polls for a pump's lock word.
//
// Two kinds of wait exist: the web service waits until a deadline in whole seconds (so a lock
// timeout of 2 waits between 2 and 3 seconds), the daemon counts its pauses. The daemon must come
// back to the monitoring socket quickly, so its waits are short.
struct lockWait {
    static constexpr int32_t WEB_TIMEOUT_SEC = 2;

    int64_t pollUs;            // pause between two tests of the word
    int32_t timeoutSec;        // >= 0: deadline wait until now() + timeoutSec + 1
    int32_t maxWaits;          // counted wait (timeoutSec < 0): give up after this many pauses
    bool clearErrorOnSuccess;  // set the segment's lastError to 0 when the lock is taken

    // Web service: lockTrkPtr and lockTrkState.
    static lockWait web(int32_t lockTimeoutSec = WEB_TIMEOUT_SEC) { return {500, lockTimeoutSec, 0, true}; }
    // Daemon's lockTrkPtr: about one second.
    static lockWait daemonPtr() { return {500, -1, 2000, false}; }
    // Daemon's lockTrk(n): about half a second.
    static lockWait daemonTrk() { return {100, -1, 5000, true}; }
};

class shmSegment {
public:
    std::string ipcPath;  // key file the segment key is derived from
    int32_t ipcKey = -1;  // -1 until derived
    int32_t shmId = 0;
    sharedTrk_t* shm = nullptr;  // null when not attached
    int32_t lastError = 0;       // errno-style number of the last failure

    void setIpcPath(const std::string& path) { ipcPath = path; }

    // Creates or attaches the segment. 0 on success; -1 with lastError set and an error line in the
    // program's log (libLog) that names the system's reason. A failed call changes nothing, so a later call
    // simply retries. Calling it while attached keeps the existing attachment.
    int32_t shmInit();
    // Detaches. With zeroDataTime the controller block's dataTime is cleared first, which tells
    // the readers that the monitor is gone (the daemon does this when it stops).
    void shmStop(bool zeroDataTime = false);
    bool isAttached() const { return shm != nullptr; }

    // Record of pump n (1..32); null with lastError 14 when not attached, 22 for a bad number.
    trkState_t* getTrkState(int n);
    // Controller status block; null with lastError 14 when not attached.
    pcuStatus_t* getPcuStatus();
    // Controller driver version; -1 with lastError 14 when not attached.
    int32_t getPcuDrvVer();

    static bool isLockedTrk(const trkState_t* rec);
    // Takes the lock word of rec, waiting as described by wait. A null rec fails at once; a wait
    // that runs out leaves lastError 16.
    bool lockTrkPtr(trkState_t* rec, const lockWait& wait);
    // Locks pump n and returns its record, or null (lastError 14, 22 or 16).
    trkState_t* lockTrkState(int n, const lockWait& wait);
    // Releases a lock word only when it holds TRK_LOCK_HELD; any other value is left alone.
    static void unlockTrkPtr(trkState_t* rec);
    void unlockTrkState(int n);

private:
    int32_t fail(int32_t error, const std::string& message);
    bool waitUntilDeadline(trkState_t* rec, const lockWait& wait);
    bool waitCounted(trkState_t* rec, const lockWait& wait);
};

}  // namespace pcudata
