#pragma once
// The two programs of the station as processes of the soak: fuelweb, a child that is signalled,
// killed and started again; and the monitor daemon, which detaches from the command that starts
// it. The soak process is made a child subreaper, so that a detached daemon stays its child and
// is reaped here once it has been killed.
#include <sys/types.h>

#include <atomic>
#include <string>
#include <vector>

namespace soak {

// Makes the calling process the reaper of its detached descendants. False when it can't.
bool adoptDetachedChildren();

class childProcess {
public:
    // argv[0] is the program's path; standard output and error are appended to outFile.
    childProcess(std::vector<std::string> argv, std::string outFile);
    ~childProcess();  // kills a child that still runs
    childProcess(const childProcess&) = delete;
    childProcess& operator=(const childProcess&) = delete;

    bool start();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void signal(int sig) const;
    // Exit status (128 + signal when killed) once it has ended; -1 when it still runs after timeoutMs.
    int waitExit(int timeoutMs);
    // SIGKILL, and the child reaped.
    void kill();

private:
    std::vector<std::string> argv;
    std::string outFile;
    pid_t pid_ = -1;
};

// pcuMonitorServer: the starting command ends once the daemon is ready and its pid file written.
class daemonProcess {
public:
    daemonProcess(std::string binary, std::string configFile, std::string pidFile, std::string outFile);
    ~daemonProcess();
    daemonProcess(const daemonProcess&) = delete;
    daemonProcess& operator=(const daemonProcess&) = delete;

    // Runs the starting command; true when it ended with 0 and the pid file names a running daemon.
    bool start(std::string& error);
    bool running() const { return pid_ > 0; }
    // The exit status when the daemon has ended (it is reaped then); -1 while it runs.
    int ended();
    // Sends sig and reaps the daemon; SIGKILL after timeoutMs when it has not ended by then.
    void stop(int sig, int timeoutMs = 5000);

private:
    std::string binary, configFile, pidFile, outFile;
    pid_t pid_ = -1;
};

}  // namespace soak
