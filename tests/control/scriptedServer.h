#pragma once
// A loopback control port that answers each received line with the next scripted reply, for the
// replies the simulator never sends (malformed lines, no RES, cut lines). Every received line is
// kept with its line feed so the tests see the exact bytes.
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testSupport.h"

namespace ctltest {

struct scriptedReply {
    std::string raw;     // sent as it is; may hold several lines or be empty (no reply)
    bool close = false;  // close the connection after sending raw
    bool reset = false;  // then close it with a reset (RST) instead of an orderly FIN
};

class scriptedServer {
public:
    scriptedServer();
    ~scriptedServer();
    scriptedServer(const scriptedServer&) = delete;
    scriptedServer& operator=(const scriptedServer&) = delete;

    uint16_t port() const { return portNo; }
    void push(const std::string& raw, bool close = false, bool reset = false);
    std::vector<std::string> received();
    int connections() const { return accepted.load(); }

private:
    int listenFd = -1;
    uint16_t portNo = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::mutex mu;
    std::deque<scriptedReply> replies;
    std::vector<std::string> lines;
    std::thread worker;

    void run();
    void serve(int fd);
    bool answer(int fd, const std::string& line);
};

using testsupport::closedPort;

}  // namespace ctltest
