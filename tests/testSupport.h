#pragma once
// Small helpers shared by every test program: loopback ports, the private shared segment of a
// test's key file, reading a file whole.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "timeSource.h"

namespace testsupport {

// A loopback port on which nothing listens. The socket that got the number stays bound, without
// listening, until the test program ends: a connection to the port is refused, and no server that
// another test starts meanwhile can take the number (the socket does not allow address reuse).
inline uint16_t closedPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// Removes the segment made from a test's key file, if there is one.
inline void removeSegment(const std::string& keyPath)
{
    key_t key = ::ftok(keyPath.c_str(), 'M');
    if (key == -1) return;
    int id = ::shmget(key, 0, 0);
    if (id >= 0) ::shmctl(id, IPC_RMID, nullptr);
}

// A clock that moves only when told to, or when the code under test sleeps: waits measured on it
// are exact, however slowly the machine (or a sanitizer) runs the test.
class manualClock : public pcudata::timeSource {
public:
    time_t now() override { return static_cast<time_t>(us / 1000000); }
    int64_t nowUs() override { return us; }
    void sleepUs(int64_t d) override { us += d > 0 ? d : 0; }
    int64_t realWaitUs(int64_t) override { return 0; }
    void advanceSec(int64_t s) { us += s * 1000000; }
    int64_t us = 1700000000LL * 1000000;
};

// Polls cond every pollMs real milliseconds for up to timeoutMs; false when it never held.
inline bool waitFor(const std::function<bool()>& cond, int timeoutMs = 10000, int pollMs = 2)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return true;
}

// The whole file, or empty when it cannot be read.
inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace testsupport
