#pragma once
// A client that sends exactly the bytes a test gives it and reads answers as they come, for the
// tests of how the service frames requests and treats slow or broken clients.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace webtest {

struct rawAnswer {
    bool complete = false;  // a whole answer arrived
    std::string statusLine;
    int status = 0;
    std::string head;  // status line and fields
    std::string body;
};

class rawClient {
public:
    explicit rawClient(uint16_t port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~rawClient()
    {
        if (fd >= 0) ::close(fd);
    }
    rawClient(const rawClient&) = delete;
    rawClient& operator=(const rawClient&) = delete;

    bool ok() const { return connected; }
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

    // The next answer (an interim 100 Continue counts as one), waiting up to timeoutMs. noBody: the
    // answer to HEAD, whose length field tells the length of a body that is not sent.
    rawAnswer read(int timeoutMs = 5000, bool noBody = false)
    {
        rawAnswer a;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos)
            if (!fill(deadline)) return a;
        a.head = pending.substr(0, end + 2);
        a.statusLine = a.head.substr(0, a.head.find("\r\n"));
        a.status = a.statusLine.size() > 12 ? std::atoi(a.statusLine.c_str() + 9) : 0;
        pending.erase(0, end + 4);
        size_t length = 0;
        std::string lower;
        for (char c : a.head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t cl = lower.find("\r\ncontent-length:");
        if (cl != std::string::npos && !noBody) length = std::strtoul(a.head.c_str() + cl + 17, nullptr, 10);
        while (pending.size() < length)
            if (!fill(deadline)) return a;
        a.body = pending.substr(0, length);
        pending.erase(0, length);
        a.complete = true;
        return a;
    }

    // True when the service ends the connection within timeoutMs (bytes still coming are dropped).
    bool closedWithin(int timeoutMs)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            pending.clear();
            int r = wait(deadline);
            if (r <= 0) return false;
            char buf[4096];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) return true;
        }
    }

private:
    int fd = -1;
    bool connected = false;
    std::string pending;

    int wait(std::chrono::steady_clock::time_point deadline)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) return 0;
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(left.count()));
    }
    bool fill(std::chrono::steady_clock::time_point deadline)
    {
        if (wait(deadline) <= 0) return false;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending.append(buf, static_cast<size_t>(n));
        return true;
    }
};

}  // namespace webtest
