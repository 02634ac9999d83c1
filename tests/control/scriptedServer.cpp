#include "scriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testSupport.h"

namespace ctltest {

namespace {

int bindLoopback(uint16_t& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

bool readable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

void sendAll(int fd, const std::string& data)
{
    size_t off = 0;
    while (off < data.size()) {
        const ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += static_cast<size_t>(n);
    }
}

}  // namespace

scriptedServer::scriptedServer()
{
    listenFd = bindLoopback(portNo);
    ::listen(listenFd, 4);
    worker = std::thread([this] { run(); });
}

scriptedServer::~scriptedServer()
{
    stop = true;
    worker.join();
    ::close(listenFd);
}

void scriptedServer::push(const std::string& raw, bool close, bool reset)
{
    std::lock_guard<std::mutex> g(mu);
    replies.push_back({raw, close || reset, reset});
}

std::vector<std::string> scriptedServer::received()
{
    std::lock_guard<std::mutex> g(mu);
    return lines;
}

void scriptedServer::run()
{
    while (!stop) {
        if (!readable(listenFd, 10)) continue;
        const int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0) continue;
        ++accepted;
        serve(fd);
        ::close(fd);
    }
}

// Serves one connection until the client goes, a reply asks to close, or the server stops.
void scriptedServer::serve(int fd)
{
    std::string pending;
    char buf[1024];
    while (!stop) {
        if (!readable(fd, 10)) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        pending.append(buf, static_cast<size_t>(n));
        size_t at;
        while ((at = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, at + 1);
            pending.erase(0, at + 1);
            if (!answer(fd, line)) return;
        }
    }
}

// false when the connection is to be closed.
bool scriptedServer::answer(int fd, const std::string& line)
{
    scriptedReply r;
    {
        std::lock_guard<std::mutex> g(mu);
        lines.push_back(line);
        if (replies.empty()) return true;
        r = replies.front();
        replies.pop_front();
    }
    sendAll(fd, r.raw);
    if (r.reset) {
        // A zero linger turns the close that follows into a reset.
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    return !r.close;
}

}  // namespace ctltest
