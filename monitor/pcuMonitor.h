#pragma once
// The heart of the monitor daemon: one connection to the controller's monitoring port, whose event
// lines are parsed and published into the shared pump table.
//
// The daemon only reads from the controller. Pump lines are incremental: a line carries only what
// changed, so each one is merged with the pump's published record before it is written back.
// The controller repeats lines freely; a line equal to the pump's previous one is not published
// again, which keeps the pump locks free for the web service.
#include <csignal>
#include <cstdint>
#include <ctime>
#include <string>

#include "clientSock.h"
#include "shmSegment.h"
#include "trkState.h"

namespace pcudata {

class pcuMonitor {
public:
    static constexpr uint32_t DEFAULT_PORT = 65521;
    static constexpr size_t LINE_CACHE_SIZE = 1024;        // per pump, NUL included
    static constexpr int64_t ERROR_PAUSE_US = 100000;      // pause before every reconnect
    static constexpr int32_t NO_CONNECTION_WARN_SEC = 15;  // at most one warning in this time

    // Host "127.0.0.1", port 65521, not connected, not attached.
    pcuMonitor();
    // The same, then connects at once; test sock().isConnected() afterwards.
    pcuMonitor(const std::string& host, uint32_t port);
    ~pcuMonitor();
    pcuMonitor(const pcuMonitor&) = delete;
    pcuMonitor& operator=(const pcuMonitor&) = delete;

    clientSock& sock() { return monSock; }
    void setIpcPath(const std::string& path) { seg.setIpcPath(path); }
    const std::string& getIpcPath() const { return seg.ipcPath; }
    int32_t getLastError() const { return seg.lastError; }

    // --- shared pump table, with the daemon's short lock waits ----------------------------------
    int32_t shmInit() { return seg.shmInit(); }
    // Zeroes dataTime before detaching: readers take a zero as "the monitor is gone".
    void shmStop() { seg.shmStop(true); }
    bool isAttached() const { return seg.isAttached(); }
    trkState_t* getTrkState(int n) { return seg.getTrkState(n); }
    pcuStatus_t* getPcuStatus() { return seg.getPcuStatus(); }
    // About half a second of waiting; the record, or null (14, 22, 16).
    trkState_t* lockTrk(int n) { return seg.lockTrkState(n, lockWait::daemonTrk()); }
    // About one second of waiting.
    bool lockTrkPtr(trkState_t* rec) { return seg.lockTrkPtr(rec, lockWait::daemonPtr()); }
    void unlockTrk(int n) { seg.unlockTrkState(n); }
    void unlockTrkPtr(trkState_t* rec) { shmSegment::unlockTrkPtr(rec); }
    bool isLockedTrk(const trkState_t* rec) const { return shmSegment::isLockedTrk(rec); }

    // --- monitoring lines -----------------------------------------------------------------------
    // A "T" line: merged with the pump's record into state (which the caller has cleared), then
    // published unless it repeats the pump's previous line. 0 taken, -1 rejected (error 14 not
    // attached, 22 bad pump number).
    int32_t parseTrkState_n(const std::string& line, trkState_t& state);
    // A "D" line into the controller status block. 0 taken, -1 rejected.
    int32_t parsePcuStatus(const std::string& line);
    // An "E" or "Y" line: one bit per pump of autoStart, flagE2 or autoCafe. 0 taken, -1 rejected.
    int32_t parseTrkBitFlags(const std::string& line);

    // --- connection -----------------------------------------------------------------------------
    // Connects; when connected and attached, dataTime becomes the current time. True when connected.
    bool open(const std::string& host, uint32_t port);
    // Zeroes dataTime when attached, then disconnects; the disconnect's result.
    int32_t close();
    int32_t stop() { return close(); }
    // For the daemon's stop signal handler, which may interrupt the loop anywhere: only plain
    // stores and system calls (zero dataTime, close the descriptor, detach), nothing that
    // allocates or takes a lock. The object is unusable afterwards; the process must end.
    void stopFromSignal();
    // A process that ended while the daemon held a pump's lock word would leave that pump locked
    // for good: the web service and the next daemon would both wait for it in vain. So a handler
    // that ends the process asks here first: true means the daemon is taking or holding a lock,
    // the signal has been put aside, and it is raised again as soon as the lock is given back.
    // Signal-safe.
    bool deferStop(int sig);

    // The endless monitoring loop: runPass() over and over. Never returns.
    [[noreturn]] void run();
    // One pass of the loop: (re)connect when needed, read one line with its 10 s budget, publish it.
    void runPass();
    // Called at the start of every pass; the daemon refreshes there what its signal handlers need.
    void (*passHook)() = nullptr;

    int32_t notifyInterval = TRK_NOTIFY_INTERVAL;  // seconds between two progress marks of a pump

private:
    clientSock monSock;
    shmSegment seg;  // key-file path, key, id, address and the last error number
    // Last pump line of each pump and its length: a line may hold NUL bytes, so the length, not a
    // terminator, says where it ends.
    char lineCache[TRK_COUNT][LINE_CACHE_SIZE] = {};
    size_t lineLength[TRK_COUNT] = {};

    // State of the loop across passes.
    bool wasConnected = false;
    time_t lastWarnTime = 0;
    trkState_t scratch{};
    bool streaming = false;    // the last read returned a line
    time_t lastCheckTime = 0;  // second of the last socket check

    // Set from just before a lock attempt until the lock is given back; read by signal handlers.
    volatile sig_atomic_t inLockSection = 0;
    volatile sig_atomic_t deferredSignal = 0;  // first stop signal put aside, 0 when none

    bool isRepeat(int n, const std::string& line) const;
    void rememberLine(int n, const std::string& line);
    void forgetLine(int n)
    {
        lineCache[n - 1][0] = '\0';
        lineLength[n - 1] = 0;
    }
    void mergeFromRecord(const trkState_t& rec, trkState_t& state) const;
    void applyGroups(const std::string& line, trkState_t& state) const;
    void publish(trkState_t* rec, trkState_t& state);
    void setBitFlags(char letter, int32_t kind, int32_t mask);
    bool lockForUpdate(trkState_t* rec);
    void unlockAfterUpdate(trkState_t* rec);
    void leaveLockSection();

    bool connectPass();
    bool socketCheckDue();
    bool readFailed();
    void dispatch(const std::string& line);
    void logTagged(const trkState_t& s) const;
    void dropConnection();
    void setDataTime(time_t t);
};

}  // namespace pcudata
