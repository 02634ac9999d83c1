#pragma once
// The pump controller simulator: the controller server that fuelweb and pcuMonitorServer talk to,
// running in-process for tests or as the program pcuSimulator.
//
// Monitoring port: on connect a client gets the D line (driver version), "E0,<mask>",
// "E2,<mask>", "Y0,0,0,<mask>" and one full T line per configured pump, then a full T line
// whenever a pump's line changes, and every `repeatMs` the D line and all T lines again. Any
// number of clients. Formats: monitorLines.h.
// Control port: one thread per connection, one command at a time, replies as in replyLine.h,
// command table in controlCommands.h, pump behaviour in simPump.h.
//
// Usage in a test:
//   sim::stationConfig cfg = sim::defaultStation();
//   cfg.tickMs = 2; cfg.flowMlPerTick = 500; cfg.autoDriverTicks = 3; cfg.repeatMs = 0;
//   sim::pcuSimulator pcu(cfg);
//   ASSERT_EQ(pcu.start(), 0);                  // free loopback ports
//   ... connect to pcu.ctlPort() / pcu.monPort() ...
//   ASSERT_TRUE(pcu.waitForStatus(1, 11, 2000));
//   EXPECT_EQ(pcu.receivedControlLines()[0], "@!REGM;NUM=20;TYP=14;");
//
// Every method is thread-safe. Pump numbers are the configured ones; methods given a pump the
// station does not have do nothing (getters return the values of an empty pumpState with trk 0).
// Errors are returned as errno numbers; nothing throws.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commandFault.h"
#include "controlConnection.h"
#include "monitorHub.h"
#include "pumpState.h"
#include "simStation.h"
#include "stationConfig.h"
#include "stopFlag.h"
#include "tcpListener.h"

namespace sim {

class pcuSimulator {
public:
    explicit pcuSimulator(const stationConfig& cfg = defaultStation());
    ~pcuSimulator();
    pcuSimulator(const pcuSimulator&) = delete;
    pcuSimulator& operator=(const pcuSimulator&) = delete;

    // Listens on 127.0.0.1; a port of 0 lets the system pick a free one. Returns 0 or an errno.
    // After stop() it may be started again; the pumps keep their state (a controller restart).
    int start(int monPort = 0, int ctlPort = 0);
    void stop();  // closes every connection and joins every thread
    int monPort() const { return monListen.port(); }
    int ctlPort() const { return ctlListen.port(); }
    stationConfig config() const;

    // --- Pump state (what the next T line of the pump reports) ---
    pumpState pump(int n) const;
    int status(int n) const { return pump(n).status; }
    int64_t volume(int n) const { return pump(n).volume; }
    int64_t amount(int n) const { return pump(n).amount; }
    int trannum(int n) const { return pump(n).trannum; }
    int needPayFlag(int n) const { return pump(n).needPayFlag; }
    int payWplace(int n) const { return pump(n).payWplace; }
    int lockWplace(int n) const { return pump(n).lockWplace; }
    int lockType(int n) const { return pump(n).lockType; }
    int64_t presetVolume(int n) const { return pump(n).presetVolume; }
    bool nozzleUp(int n) const { return pump(n).nozzleUp; }
    // Every status the pump has shown since construction (or the last clear), without repeats,
    // the present one last; catches statuses that last a single tick.
    std::vector<int> statusHistory(int n) const;
    void clearStatusHistory();

    // --- Driver and station actions ---
    void liftNozzle(int n);  // 6 -> 7 on the next tick; idle 3 -> 2
    void hangNozzle(int n);  // ends a delivery (7/8 -> 9); 9/14 then go on to 11; idle 2 -> 3
    // A delivery started at the pump itself and paid afterwards at the till (presetFlags 2,
    // payWplace = cashWplace): idle -> 6 -> ... -> 11. volumeMl 0 = until the nozzle is hung.
    // Returns 1 or a refusal code of replyCodes.h.
    int startLocalDelivery(int n, int prodCode, int64_t volumeMl);
    void pauseDelivery(int n);   // 7 -> 8
    void resumeDelivery(int n);  // 8 -> 7

    // --- Forced states ---
    // 2/3 put the pump back to idle (nozzle up/down). 0, 1 (no link), 13 (off), 16 (blocked) make
    // it refuse commands with TCOD ERRPCU; 12 and 15 just sit. Any other value is shown as is and
    // the machine goes on from there.
    void setPumpStatus(int n, int status);
    // Shows `status` for ms milliseconds, then the previous status again (e.g. an 11 that flips
    // back within a second). The pump does not progress meanwhile.
    void flashStatus(int n, int status, int ms);
    // Free edit of any reported field (needPayFlag, lockWplace, presetFlags, wText, ...).
    void editPump(int n, const std::function<void(pumpState&)>& edit);
    void setPumpFlags(int n, int autoStart, int flagE2, int autoCafe);  // re-sends E and Y lines
    void setDriverVersion(int version);                                 // re-sends the D line

    // --- Pump faults (persist until changed) ---
    void setNeverLift(int n, bool on);
    void setZeroVolume(int n, bool on);        // delivery stays at 0 ml; ends after autoDriverTicks
    void setOverfill(int n, int64_t extraMl);  // valve closes extraMl after the preset
    void resetAt(int n, int64_t atVolumeMl, int status = 3);  // mid-delivery fall back to 2/3

    // --- Control-port faults, each for the next matching command (empty cmd = any) ---
    void injectFault(const commandFault& f);
    // Refuse: RES res (not 1), TCOD/TXT as given or the code's defaults. With res 1 the command is
    // carried out and only TCOD/TXT are replaced (e.g. TCOD "UNKNOWN").
    void refuseNext(const std::string& cmd, int res, const std::string& tcod = "",
                    const std::string& txt = "");
    void delayNext(const std::string& cmd, int ms);
    void dropNext(const std::string& cmd);  // carried out, never answered
    void intermediateNext(const std::string& cmd, int count, int res = 2);
    void closeOnNext(const std::string& cmd);  // connection closed instead of an answer
    void rawReplyNext(const std::string& cmd, const std::string& text);  // carried out, text sent instead
    void clearFaults();
    // Runs on the connection's thread for every control line, once the command has been carried out
    // and published and before its answer goes out (a test kills the client there, say). Empty: none.
    void setAfterCommand(std::function<void(const std::string& line)> hook);

    // --- Connections ---
    void closeControlConnections();
    void closeMonitorConnections();
    void sendRawControlLine(const std::string& text);  // to every control client now; "\n" added if missing
    void sendRawMonitorLine(const std::string& text);  // to every monitoring client now; likewise
    void setMonitorSilent(bool on);  // stop sending anything on the monitoring port (connections stay)
    size_t monitorClients() const { return hub.clients(); }
    size_t controlClients() const;

    // --- Record of the control port ---
    // Every line received, in arrival order over all connections, byte for byte without its "\n".
    std::vector<std::string> receivedControlLines() const;
    // Only the lines of one command ("@!" + cmd followed by ";" or the end of the line).
    std::vector<std::string> receivedCommands(const std::string& cmd) const;
    void clearReceivedControlLines();

    // --- Waiting in tests (polls every millisecond; true when the condition came true in time) ---
    bool waitFor(const std::function<bool()>& cond, int timeoutMs) const;
    bool waitForStatus(int n, int status, int timeoutMs) const;
    bool waitForControlLines(size_t count, int timeoutMs) const;

private:
    void acceptLoop();
    void tickLoop();
    void onMonitorClient(int fd);
    void onControlClient(int fd);
    controlOutcome onControlLine(controlSession& s, const std::string& line);
    std::vector<std::string> initialLines() const;
    void publishLocked();
    void repeatLocked();
    void withPump(int n, const std::function<void(simPump&)>& action);
    void broadcastFlagsLocked();

    mutable std::mutex mtx;  // guards st, lastSent, history, afterCommand
    std::function<void(const std::string&)> afterCommand;
    simStation st;
    std::vector<std::string> lastSent;
    std::vector<std::vector<int>> history;
    int64_t lastRepeatMs = 0;

    monitorHub hub;
    tcpListener monListen;
    tcpListener ctlListen;
    stopFlag stopping;
    std::thread acceptThread;
    std::thread tickThread;
    mutable std::mutex connMtx;
    std::vector<std::unique_ptr<controlConnection>> conns;
};

}  // namespace sim
