#pragma once
// Process frame of the monitor daemon pcuMonitorServer: command line, configuration file, derived
// paths, detaching with a pid-file handshake, signals, and the hand-over to the monitoring loop.
//
// Every step that can end the program returns the exit status instead of exiting, so that the
// steps can be tried one by one; CONTINUE means "go on with the start".
#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "pcuMonitor.h"
#include "runner.h"
#include "sharedConfig.h"

namespace pcudata {
namespace monitorServer {

constexpr int CONTINUE = -1;

// Process-wide state; the signal handlers need part of it.
extern const char* progname;     // argv[0] after its last '/'
extern std::string config_file;  // configuration file actually used
extern std::string pidFile;      // --pid value, empty when not given
extern std::string pcuAddr;      // -H value, empty when not given
extern uint16_t monPort;         // -P value, 0 when not given
extern std::string lock_path;    // pid file of the detach handshake
extern pid_t pid_daemon;         // starter: the daemon child; daemon: itself
extern pcuMonitor* volatile ptrMon;
extern runner::whereLog ioLog;  // the frame's own log lines: standard output
extern bool checkOnly;          // --check-config: check the configuration file and exit

// What the configuration and the command line decide.
struct settings {
    std::string host = sharedConfig::DEFAULT_CTL_ADDR;
    uint32_t port = pcuMonitor::DEFAULT_PORT;
    std::string tmpPath = sharedConfig::DEFAULT_TMP_PATH;
    std::string runPath = "/var/run";
    std::string logPath = "/var/log";
    // Derived by derivePaths.
    std::string keyFile, logFile, errFile, pidPath;
    // Keys that took their default because their value did not fit; logged to the .err file once
    // the daemon's streams lead there.
    std::vector<std::string> warnings;
};

// Sets progname from argv[0].
void setProgname(const char* argv0);
// Fills the option globals. CONTINUE, 0 after --help (usage printed) or --version, 1 for a bad
// option.
int parseOptions(int argc, char* argv[]);
void printUsage(std::ostream& os);
// Picks config_file: the --config file, or config.js in cwd. CONTINUE, 22 or 2.
int findConfigFile(const std::string& cwd);
// Reads the "fuelweb" keys of file into s, as fuelweb reads them (pcudata::configFile). CONTINUE
// (an unreadable file, or valid JSON that is not an object, leaves the defaults) or 5 (not JSON).
int loadConfig(const std::string& file, settings& s);
// --check-config: the daemon's keys of file judged (configCheck.h), one line each on standard
// output; 1 when there is an error (a file that can not be read or parsed is one), else 0.
int checkConfigFile(const std::string& file);
// Host and port from the command line over the configuration, then the file paths.
void applyOptions(settings& s);
void derivePaths(settings& s);
// Makes the derived paths absolute against cwd, the directory the program was started in.
void anchorPaths(settings& s, const std::string& cwd);

// Pid stored in a pid file, or 0 when the file is missing, unreadable or holds no positive number.
pid_t readPidFile(const std::string& path);
// Detaches from the starter: CONTINUE in the daemon (new session, "/", streams on the log files) or
// when already run by process 1; otherwise the exit status of the starting process, which is the
// daemon's own status when the daemon ends before it reports readiness.
int detach(const std::string& pidPath, const std::string& logPath, const std::string& errPath);
// Tells the starting process that the daemon runs (it then writes the pid file and ends with 0).
// Called once everything that can end the start has succeeded. Nothing to do when not detached.
void reportReady();

// A line for the .err file (standard error). Until the daemon has reported readiness it also goes
// to the standard error of the command that started it, so a start that fails is explained where
// it was asked for.
void errLine(const std::string& text);
// Installs handler for sig, with the signals of mask blocked while it runs. False, with an error
// line naming the signal and the system's reason, when the system refuses.
bool installHandler(int sig, void (*handler)(int), const sigset_t* mask = nullptr, int flags = 0);

// The whole program; returns only on failure or in the starting process.
int serverMain(int argc, char* argv[]);

}  // namespace monitorServer
}  // namespace pcudata
