#pragma once
// The fuelweb program run as a child process by a test, on a configuration written by the test,
// with its log in a file: started, waited for, signalled, killed.
#include <signal.h>
#include <sys/types.h>

#include <string>

namespace webtest {

class fuelwebChild {
public:
    // log: the file "logging.file" names; errFile receives standard error.
    fuelwebChild(std::string configFile, std::string logFile, std::string errFile);
    ~fuelwebChild();  // kills a child that still runs
    fuelwebChild(const fuelwebChild&) = delete;
    fuelwebChild& operator=(const fuelwebChild&) = delete;

    bool start();
    bool running() const { return pid > 0; }
    // The child's process id (-1 when none runs), for a signal sent from another thread.
    pid_t processId() const { return pid; }
    void signal(int sig);
    // SIGKILL, and the child reaped.
    void kill();
    // Exit status (128 + signal when killed), -1 when it still runs after timeoutMs.
    int waitExit(int timeoutMs = 5000);
    // True once the log holds text count times (within timeoutMs).
    bool waitForLog(const std::string& text, size_t count = 1, int timeoutMs = 10000) const;
    // True once the service answers on port.
    bool waitListening(uint16_t port, int timeoutMs = 10000) const;
    std::string log() const;
    std::string errors() const;  // standard error

private:
    std::string config, logFile, errFile;
    pid_t pid = -1;
};

// Occurrences of what in text.
size_t countOf(const std::string& text, const std::string& what);

}  // namespace webtest
