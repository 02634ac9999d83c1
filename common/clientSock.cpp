#include "clientSock.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "libLog.h"
#include "timeSource.h"

namespace pcudata {

namespace {
const int64_t kWriteBudgetUs = 5000000;
const int64_t kReadlnBudgetUs = 10000000;
const int64_t kReadBudgetUs = 5000000;
const int64_t kReconnectPauseUs = 500000;
// A host that silently drops the handshake would otherwise hold each attempt for the kernel's own
// SYN time-out (about two minutes): the monitor loop or a request would hang for many minutes.
const int64_t kConnectTimeoutUs = 5000000;
const int64_t kFailedWaitPauseUs = 1000;
const int kMaxFailedWaits = 12;
const size_t kMaxPending = 4095;

int setIntOption(int descriptor, int level, int name, int value)
{
    return ::setsockopt(descriptor, level, name, &value, sizeof value);
}

// Adds the option's name and the system's reason to failed when set failed (rc != 0).
bool noteFailure(int rc, const char* option, std::string& failed, int& firstErrno)
{
    if (rc == 0) return false;
    const int e = errno;
    if (firstErrno == 0) firstErrno = e;
    failed += std::string(failed.empty() ? "" : "; ") + option + " " + errnoText(e);
    return true;
}

int setLinger(int descriptor, int on, int seconds)
{
    linger lg{};
    lg.l_onoff = on;
    lg.l_linger = seconds;
    return ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
}

// poll() counts in milliseconds; round up so that a wait never ends before its budget.
int pollMs(int64_t realUs)
{
    int64_t ms = (realUs + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Conditions after which the same non-blocking call may simply be tried again.
bool isTransient(int err)
{
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}
}  // namespace

clientSock::clientSock() {}

clientSock::clientSock(const std::string& h, uint32_t p)
{
    connect(h, p);
}

clientSock::clientSock(int descriptor) : connected(descriptor >= 0), sockfd(descriptor) {}

clientSock::~clientSock()
{
    if (sockfd >= 0) disconnect();
}

int clientSock::connect(const std::string& h, uint32_t p)
{
    host = h;
    port = p;
    if (_resolve(h, p) != 0) {
        // The object now names an unreachable peer: it must not look connected to the old one.
        if (sockfd >= 0) disconnect();
        return -1;
    }
    if (connected) {
        disconnect();
        timeSrc().sleepUs(kReconnectPauseUs);
    }
    sockfd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (sockfd < 0) {
        errcode = errno;
        sockfd = -1;
        connected = false;
        return 1;
    }
    enable_keepalive(sockfd);
    errcode = 0;
    connected = true;
    return _attemptConnect();
}

int clientSock::_resolve(const std::string& name, uint32_t portNo)
{
    if (portNo > 65535) {
        errcode = EINVAL;
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        errcode = EHOSTUNREACH;
        return -1;
    }
    std::memcpy(&addr, found->ai_addr, sizeof addr);
    ::freeaddrinfo(found);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(portNo));
    return 0;
}

int clientSock::_attemptConnect()
{
    int failures = 0;
    while (_connectOnce() != 0) {
        errcode = errno;
        if (++failures > connRetries) {
            _closeSocket();
            return -1;
        }
        _renewSocket();
        timeSrc().sleepUs(retryPauseUs);
    }
    // Bytes of an earlier connection do not belong to this stream.
    pending.clear();
    peerClosed = false;
    return 0;
}

int clientSock::_connectOnce()
{
    const int flags = ::fcntl(sockfd, F_GETFL);
    if (flags < 0 || ::fcntl(sockfd, F_SETFL, flags | O_NONBLOCK) != 0) return -1;
    int rc = ::connect(sockfd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    if (rc != 0 && (errno == EINPROGRESS || errno == EINTR)) rc = _finishConnect();
    const int saved = errno;
    // The rest of the class waits with poll() itself and expects a blocking descriptor.
    if (sockfd >= 0) ::fcntl(sockfd, F_SETFL, flags);
    errno = saved;
    return rc == 0 ? 0 : -1;
}

// Waits for a handshake in progress, at most kConnectTimeoutUs.
int clientSock::_finishConnect()
{
    const int ready = _waitFor(POLLOUT, timeSrc().nowUs() + kConnectTimeoutUs);
    if (ready == 0) {
        errno = ETIMEDOUT;
        return -1;
    }
    if (ready < 0) return -1;
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if (::getsockopt(sockfd, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0) return -1;
    if (soerr == 0) return 0;
    errno = soerr;
    return -1;
}

int clientSock::disconnect()
{
    if (sockfd < 0) return -1;
    // Linger 0 makes close() reset the connection at once instead of leaving it in TIME_WAIT.
    setLinger(sockfd, 1, 0);
    ::shutdown(sockfd, SHUT_RD);
    while (::recv(sockfd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
    _closeSocket();
    return 0;
}

// A socket whose handshake failed or timed out cannot be connected again: the next attempt gets
// a fresh one under the same descriptor number.
void clientSock::_renewSocket()
{
    const int fresh = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fresh < 0) {
        // The next attempt fails on the old socket and says why; this says why it was not replaced.
        _reportRenewal("Не удалось создать новый сокет для повторного соединения с ", errno);
        return;
    }
    enable_keepalive(fresh);
    if (::dup3(fresh, sockfd, O_CLOEXEC) < 0)
        _reportRenewal("Не удалось заменить сокет для повторного соединения с ", errno);
    ::close(fresh);
}

void clientSock::_reportRenewal(const char* what, int e)
{
    libLog::write(libLog::error, what + host + ":" + std::to_string(port) + ": " + errnoText(e));
}

void clientSock::_closeSocket()
{
    ::close(sockfd);
    sockfd = -1;
    connected = false;
}

bool clientSock::hasError()
{
    if (sockfd < 0) return true;
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if (::getsockopt(sockfd, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0) {
        errcode = 0;
        return true;
    }
    if (soerr != 0) {
        errcode = soerr;
        return true;
    }
    if (peerClosed) {
        errcode = ENOTCONN;
        return true;
    }
    return false;
}

int clientSock::write(const std::string& text)
{
    if (!connected || sockfd < 0) return 1;
    const int64_t deadline = timeSrc().nowUs() + kWriteBudgetUs;
    size_t done = 0;
    while (done < text.size()) {
        if (timeSrc().nowUs() >= deadline) {
            errcode = ETIMEDOUT;
            return 1;
        }
        int ready = _waitFor(POLLOUT, deadline);
        if (ready < 0) {
            errcode = errno;
            return 1;
        }
        if (ready == 0) continue;
        // Non-blocking, so a peer that stops reading cannot hold the call beyond its budget.
        ssize_t n = ::send(sockfd, text.data() + done, text.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (isTransient(errno)) continue;
            errcode = errno;
            return 1;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

std::string clientSock::readln()
{
    std::string line;
    if (!connected || sockfd < 0) return line;
    errcode = 0;
    const int64_t deadline = timeSrc().nowUs() + kReadlnBudgetUs;
    bool readFailed = false;
    bool quiet = false;
    int failures = 0;
    while (pending.find('\n') == std::string::npos && pending.size() <= kMaxPending) {
        int ready = _waitReadable(deadline, failures);
        if (ready == 0) {
            quiet = true;
            break;
        }
        if (ready < 0) continue;
        ssize_t n = ::recv(sockfd, buf, sizeof buf - 1, MSG_DONTWAIT);
        if (n > 0) {
            errcode = 0;
            if (_appendPending(buf, static_cast<size_t>(n)) != 0) return line;
            continue;
        }
        if (n == 0) {
            peerClosed = true;
            break;
        }
        if (isTransient(errno)) continue;
        readFailed = true;
        errcode = errno;
        break;
    }
    if (pending.empty()) return line;
    size_t lf = pending.find('\n');
    // The budget ran out in the middle of a line: keep the start for the next call instead of
    // handing it out as a line of its own. A cut line reads as a plausible shorter one ("RES=12"
    // as "RES=1", a volume with its last digits missing), and its rest would come as a second one.
    if (quiet && lf == std::string::npos) return line;
    line = pending.substr(0, lf);
    if (readFailed || lf == std::string::npos) {
        pending.clear();
    } else {
        pending.erase(0, lf + 1);
    }
    return line;
}

std::string clientSock::read()
{
    std::string text;
    if (!connected || sockfd < 0) return text;
    const int64_t deadline = timeSrc().nowUs() + kReadBudgetUs;
    int failures = 0;
    for (;;) {
        int ready = _waitReadable(deadline, failures);
        if (ready == 0) break;
        if (ready < 0) continue;
        ssize_t n = ::recv(sockfd, buf, sizeof buf - 1, MSG_DONTWAIT);
        if (n > 0) {
            text.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) {
            peerClosed = true;
            break;
        }
        if (isTransient(errno)) continue;
        errcode = errno;
        break;
    }
    return text;
}

std::string clientSock::readln_byte()
{
    std::string line;
    if (!connected || sockfd < 0) return line;
    // One budget for the whole line: a peer that stalls mid-line cannot block the call.
    const int64_t deadline = timeSrc().nowUs() + kReadBudgetUs;
    while (line.size() < sizeof buf) {
        int ready = _waitFor(POLLIN, deadline);
        if (ready < 0) errcode = errno;
        if (ready <= 0) break;
        char c = 0;
        ssize_t n = ::recv(sockfd, &c, 1, MSG_DONTWAIT);
        if (n == 0) {
            peerClosed = true;
            break;
        }
        if (n < 0) {
            if (isTransient(errno)) continue;
            errcode = errno;
            break;
        }
        if (c == '\n' || c == '\0') break;
        line.push_back(c);
    }
    return line;
}

int clientSock::_waitFor(short events, int64_t deadlineUs)
{
    for (;;) {
        int64_t left = deadlineUs - timeSrc().nowUs();
        pollfd p{sockfd, events, 0};
        int rc = ::poll(&p, 1, left > 0 ? pollMs(timeSrc().realWaitUs(left)) : 0);
        if (rc < 0 && errno == EINTR) continue;
        if (rc > 0 && (p.revents & POLLNVAL)) {
            errno = EBADF;
            return -1;
        }
        return rc;
    }
}

int clientSock::_waitReadable(int64_t deadlineUs, int& failures)
{
    int ready = _waitFor(POLLIN, deadlineUs);
    if (ready > 0) {
        failures = 0;
        return 1;
    }
    if (ready == 0) return 0;
    errcode = errno;
    if (++failures >= kMaxFailedWaits) return 0;
    timeSrc().sleepUs(kFailedWaitPauseUs);
    return -1;
}

int clientSock::_appendPending(const char* data, size_t len)
{
    try {
        pending.append(data, len);
    } catch (const std::length_error&) {
        errcode = EOVERFLOW;
        pending.clear();
        return -1;
    }
    return 0;
}

// A refused option is reported and leaves its bit in the result's mask; errcode gets the first
// refusal's error number. The connection works without keep-alive, but a controller that vanishes
// without a word is then noticed only by the read budgets.
int clientSock::enable_keepalive(int descriptor)
{
    int mask = 0, first = 0;
    std::string failed;
    if (noteFailure(setIntOption(descriptor, SOL_SOCKET, SO_KEEPALIVE, 1), "SO_KEEPALIVE", failed, first))
        mask |= 16;
    if (noteFailure(setIntOption(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, 1), "TCP_KEEPIDLE", failed, first))
        mask |= 32;
    if (noteFailure(setIntOption(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, 1), "TCP_KEEPINTVL", failed, first))
        mask |= 64;
    if (noteFailure(setIntOption(descriptor, IPPROTO_TCP, TCP_KEEPCNT, 5), "TCP_KEEPCNT", failed, first))
        mask |= 128;
    if (mask == 0) return 0;
    errcode = first;
    libLog::write(libLog::warning, "Не удалось включить keep-alive сокета " + std::to_string(descriptor) +
                                       " (маска " + std::to_string(mask) + "): " + failed);
    return -1;
}

int clientSock::enable_reuseopts(int descriptor)
{
    int mask = 0, first = 0;
    std::string failed;
    if (noteFailure(setIntOption(descriptor, SOL_SOCKET, SO_REUSEADDR, 1), "SO_REUSEADDR", failed, first))
        mask |= 1;
    if (noteFailure(setIntOption(descriptor, SOL_SOCKET, SO_REUSEPORT, 1), "SO_REUSEPORT", failed, first))
        mask |= 2;
    if (noteFailure(setLinger(descriptor, 1, 2), "SO_LINGER", failed, first)) mask |= 4;
    if (mask == 0) return 0;
    errcode = first;
    libLog::write(libLog::warning, "Не удалось настроить повторное использование адреса сокета " +
                                       std::to_string(descriptor) + " (маска " + std::to_string(mask) +
                                       "): " + failed);
    return -1;
}

}  // namespace pcudata
