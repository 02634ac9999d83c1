#pragma once
// A loopback client on plain POSIX sockets that sends exactly the bytes a test gives it and collects
// what comes back, for the tests of servers whose own socket classes they must not lean on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace testsupport {

class loopbackClient {
public:
    explicit loopbackClient(int port)
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
    ~loopbackClient()
    {
        if (fd >= 0) ::close(fd);
    }
    loopbackClient(const loopbackClient&) = delete;
    loopbackClient& operator=(const loopbackClient&) = delete;

    bool connected() const { return fd >= 0; }
    bool send(const std::string& bytes)
    {
        size_t off = 0;
        while (off < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += static_cast<size_t>(n);
        }
        return true;
    }
    void endSending() { ::shutdown(fd, SHUT_WR); }

    bool eof = false;  // the server ended the connection

protected:
    std::string pending;  // received and not yet taken

    // Appends what arrives before the deadline to pending; false on time-out or end of stream.
    bool fill(std::chrono::steady_clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            eof = true;
            return false;
        }
        pending.append(buf, static_cast<size_t>(n));
        return true;
    }

private:
    int fd = -1;
};

}  // namespace testsupport
