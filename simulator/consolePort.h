#pragma once
// A loopback TCP port that takes console commands (simConsole.h), one per line, and answers each
// with its result followed by an empty line. One client at a time, e.g. `nc 127.0.0.1 PORT`.
#include <thread>

#include "pcuSimulator.h"
#include "stopFlag.h"
#include "tcpListener.h"

namespace sim {

class consolePort {
public:
    explicit consolePort(pcuSimulator& pcu) : sim(pcu) {}
    ~consolePort() { stop(); }
    consolePort(const consolePort&) = delete;
    consolePort& operator=(const consolePort&) = delete;

    int start(int port);  // 0 or an errno
    void stop();
    int port() const { return listener.port(); }

private:
    void run();
    void serve(int fd);

    pcuSimulator& sim;
    tcpListener listener;
    stopFlag stopping;
    std::thread worker;
};

}  // namespace sim
