#include "httpConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "timeSource.h"

namespace azs_apps {

httpConnection::httpConnection(int fd, std::string peer, const requestParser::limits& limits)
    : sock(fd), peerName(std::move(peer)), reqParser(limits)
{
}

httpConnection::~httpConnection()
{
    if (sock >= 0) ::close(sock);
}

bool httpConnection::sendAll(const std::string& bytes, int64_t budgetUs)
{
    int64_t deadline = pcudata::timeSrc().nowUs() + budgetUs;
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::send(sock, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n > 0) {
            off += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
        int64_t left = deadline - pcudata::timeSrc().nowUs();
        if (left <= 0) return false;
        int64_t ms = (pcudata::timeSrc().realWaitUs(left) + 999) / 1000;
        pollfd p{sock, POLLOUT, 0};
        int rc = ::poll(&p, 1, ms > INT_MAX ? INT_MAX : static_cast<int>(ms));
        if (rc < 0 && errno != EINTR) return false;
    }
    return true;
}

bool httpConnection::trySend(const std::string& bytes)
{
    ssize_t n = ::send(sock, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == static_cast<ssize_t>(bytes.size());
}

void httpConnection::shutdownWrite()
{
    ::shutdown(sock, SHUT_WR);
}

}  // namespace azs_apps
