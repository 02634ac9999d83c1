#pragma once
// A tiny loopback line client for the simulator's tests, on plain POSIX sockets (the simulator's
// tests must not lean on the system's own socket class, which they are meant to check).
#include <chrono>
#include <string>
#include <vector>

#include "loopbackClient.h"

namespace simtest {

class lineClient : public testsupport::loopbackClient {
public:
    using loopbackClient::loopbackClient;

    // One line without its "\n"; false on time-out or end of stream (then `eof` tells which).
    bool readLine(std::string& line, int timeoutMs = 1000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t nl;
        while ((nl = pending.find('\n')) == std::string::npos)
            if (!fill(deadline)) return false;
        line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        return true;
    }

    // Sends a command line and returns the first reply line ("" when none came).
    std::string command(const std::string& cmd, int timeoutMs = 1000)
    {
        std::string line;
        if (!send(cmd + "\n") || !readLine(line, timeoutMs)) return "";
        return line;
    }

    std::vector<std::string> readLines(size_t count, int timeoutMs = 1000)
    {
        std::vector<std::string> out;
        std::string line;
        while (out.size() < count && readLine(line, timeoutMs)) out.push_back(line);
        return out;
    }
};

}  // namespace simtest
