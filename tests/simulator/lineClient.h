#pragma once
// A tiny loopback line client for the simulator's tests, on plain POSIX sockets (the simulator's
// tests must not lean on the system's own socket class, which they are meant to check).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace simtest {

class lineClient {
public:
    explicit lineClient(int port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~lineClient()
    {
        if (fd >= 0) ::close(fd);
    }
    lineClient(const lineClient&) = delete;
    lineClient& operator=(const lineClient&) = delete;

    bool connected() const { return fd >= 0; }

    bool send(const std::string& text)
    {
        return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == (ssize_t)text.size();
    }

    // One line without its "\n"; false on time-out or end of stream (then `eof` tells which).
    bool readLine(std::string& line, int timeoutMs = 1000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            size_t nl = buf.find('\n');
            if (nl != std::string::npos) {
                line = buf.substr(0, nl);
                buf.erase(0, nl + 1);
                return true;
            }
            int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                           deadline - std::chrono::steady_clock::now())
                           .count();
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0) return false;
            char chunk[4096];
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) {
                eof = true;
                return false;
            }
            buf.append(chunk, (size_t)n);
        }
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

    bool eof = false;

private:
    int fd = -1;
    std::string buf;
};

}  // namespace simtest
