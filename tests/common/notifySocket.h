#pragma once
// A stand-in for systemd's notification socket: a unix datagram socket the test binds at a path of
// its own and names in NOTIFY_SOCKET, so that what a program tells systemd arrives here.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

class notifySocket {
public:
    notifySocket()
    {
        char tmpl[] = "/tmp/fuelgate-notify.XXXXXX";
        dir = ::mkdtemp(tmpl);
        path = dir + "/notify";
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    }
    ~notifySocket()
    {
        ::unsetenv("NOTIFY_SOCKET");
        ::close(fd);
        ::unlink(path.c_str());
        ::rmdir(dir.c_str());
    }
    notifySocket(const notifySocket&) = delete;
    notifySocket& operator=(const notifySocket&) = delete;

    // The next message, or empty when none comes within timeoutMs.
    std::string next(int timeoutMs = 2000)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return "";
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
    }
    // The messages until one holding what arrives (true), or none within timeoutMs (false).
    bool waitFor(const std::string& what, int timeoutMs = 10000)
    {
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            const std::string m = next(100);
            if (m.find(what) != std::string::npos) return true;
        }
        return false;
    }

private:
    std::string dir, path;
    int fd = -1;
};
