#include "requestReader.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <Poco/Exception.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "httpAnswer.h"
#include "stationMetrics.h"
#include "timeSource.h"

namespace azs_apps {

namespace {

// How long a connection that got its last answer is read from before it is closed, and how much
// of what the client still sends is dropped at most.
constexpr int64_t LINGER_US = 2000000;
constexpr size_t LINGER_BYTES = 4 * 1024 * 1024;
// Out of descriptors: accepting rests this long instead of spinning on the ready listener.
constexpr int64_t ACCEPT_PAUSE_US = 100000;
constexpr int64_t ACCEPT_PAUSE_LOG_US = 10000000;
constexpr int MAX_ACCEPTS_PER_ROUND = 64;
constexpr size_t READ_CHUNK = 16 * 1024;

std::string peerOf(const sockaddr_storage& a)
{
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (a.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(a);
        inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
        port = ntohs(in.sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    if (a.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
        inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        port = ntohs(in6.sin6_port);
    }
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

int pollMs(int64_t realUs)
{
    int64_t ms = (realUs + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::string seconds(int64_t us)
{
    return us % 1000000 == 0 ? std::to_string(us / 1000000) : std::to_string(static_cast<double>(us) / 1e6);
}

}  // namespace

requestReader::requestReader(const settings& s, handOff toWorkers)
    : cfg(s), toWorkers(std::move(toWorkers)), log(Poco::Logger::get("fuelweb"))
{
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) throw Poco::SystemException("eventfd");
}

requestReader::~requestReader()
{
    stop();
    ::close(wakeFd);
}

void requestReader::start(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::lock_guard<std::mutex> lock(mutex);
    if (running || stopping) return;
    listenFd = fd;
    listening = true;
    running = true;
    thread = std::thread([this] { run(); });
}

void requestReader::stopListening()
{
    std::unique_lock<std::mutex> lock(mutex);
    listening = false;
    wake();
    changed.wait(lock, [this] { return listenFd < 0 || !running; });
}

void requestReader::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        listening = false;
        wake();
    }
    if (thread.joinable()) thread.join();
}

void requestReader::giveBack(std::unique_ptr<httpConnection> conn, bool keepOpen)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (!running || stopping) {
        lock.unlock();
        conn.reset();  // the reader is gone: the connection simply closes
        return;
    }
    inbox.emplace_back(std::move(conn), keepOpen);
    wake();
}

size_t requestReader::held() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return heldCount;
}

void requestReader::wake()
{
    uint64_t one = 1;
    ssize_t n = ::write(wakeFd, &one, sizeof one);
    (void)n;  // a full counter already wakes the thread
}

void requestReader::run()
{
    std::vector<pollfd> fds;
    for (;;) {
        int64_t now = pcudata::timeSrc().nowUs();
        int lfd;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping) break;
            if (!listening && listenFd >= 0) {
                listenFd = -1;
                changed.notify_all();
            }
            lfd = listenFd;
        }
        takeInbox(now);
        expire(now);
        if (conns.size() >= cfg.maxConnections) makeRoom();
        bool accepting = lfd >= 0 && conns.size() < cfg.maxConnections && now >= acceptPausedUntil;

        fds.clear();
        fds.push_back({wakeFd, POLLIN, 0});
        if (accepting) fds.push_back({lfd, POLLIN, 0});
        size_t first = fds.size();
        for (const auto& c : conns) fds.push_back({c->fd(), POLLIN, 0});

        int64_t deadline = nextDeadline();
        if (lfd >= 0 && !accepting && acceptPausedUntil > now && acceptPausedUntil < deadline)
            deadline = acceptPausedUntil;
        int timeout = deadline == INT64_MAX
                          ? -1
                          : pollMs(pcudata::timeSrc().realWaitUs(deadline > now ? deadline - now : 0));
        int rc = ::poll(fds.data(), fds.size(), timeout);
        if (rc < 0) continue;  // EINTR; nothing else can fail with valid descriptors
        now = pcudata::timeSrc().nowUs();
        if (fds[0].revents != 0) {
            uint64_t count;
            ssize_t n = ::read(wakeFd, &count, sizeof count);
            (void)n;
        }
        if (accepting && fds[1].revents != 0) acceptNew(lfd, now);
        size_t polled = fds.size() - first;
        for (size_t i = 0; i < polled; ++i)
            if (fds[first + i].revents != 0 && conns[i]) onReadable(conns[i], now);
        dropClosed();
    }
    conns.clear();
    std::lock_guard<std::mutex> lock(mutex);
    inbox.clear();
    running = false;
    listenFd = -1;
    heldCount = 0;
    changed.notify_all();
}

void requestReader::dropClosed()
{
    size_t kept = 0;
    for (auto& c : conns)
        if (c) conns[kept++] = std::move(c);
    conns.resize(kept);
    std::lock_guard<std::mutex> lock(mutex);
    heldCount = kept;
}

void requestReader::takeInbox(int64_t now)
{
    std::vector<std::pair<std::unique_ptr<httpConnection>, bool>> got;
    {
        std::lock_guard<std::mutex> lock(mutex);
        got.swap(inbox);
    }
    for (auto& item : got) {
        conns.push_back(std::move(item.first));
        std::unique_ptr<httpConnection>& conn = conns.back();
        if (!item.second) {
            linger(*conn, now);
            continue;
        }
        conn->state = httpConnection::idle;
        conn->deadlineUs = now + cfg.keepAliveUs;
        // The client may have sent its next request already (pipelining).
        if (conn->parser().started()) {
            conn->state = httpConnection::reading;
            conn->deadlineUs = now + cfg.readTimeoutUs;
            advance(conn, now);
        }
    }
}

void requestReader::acceptNew(int lfd, int64_t now)
{
    for (int i = 0; i < MAX_ACCEPTS_PER_ROUND && conns.size() < cfg.maxConnections; ++i) {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        int fd = ::accept4(lfd, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                if (now >= lastPauseLogUs + ACCEPT_PAUSE_LOG_US) {
                    lastPauseLogUs = now;
                    poco_error(log, "Новые соединения не принимаются: " + std::string(std::strerror(errno)));
                }
                acceptPausedUntil = now + ACCEPT_PAUSE_US;
            }
            return;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto conn = std::make_unique<httpConnection>(fd, peerOf(addr), cfg.limits);
        conn->state = httpConnection::reading;
        conn->deadlineUs = now + cfg.readTimeoutUs;
        conns.push_back(std::move(conn));
    }
}

// At the limit: an idle or closing connection gives its place to a new one (the one whose time
// runs out first).
void requestReader::makeRoom()
{
    std::unique_ptr<httpConnection>* victim = nullptr;
    for (auto& c : conns) {
        if (!c || c->state == httpConnection::reading) continue;
        if (victim == nullptr || c->deadlineUs < (*victim)->deadlineUs) victim = &c;
    }
    if (victim == nullptr) return;
    victim->reset();
    dropClosed();
}

void requestReader::onReadable(std::unique_ptr<httpConnection>& conn, int64_t now)
{
    httpConnection& c = *conn;
    char buf[READ_CHUNK];
    ssize_t n = ::recv(c.fd(), buf, sizeof buf, 0);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) conn.reset();
        return;
    }
    if (n == 0) {
        // The client ended its side in the middle of a request: it may still read the refusal.
        if (c.state == httpConnection::reading && c.parser().started())
            refuse(conn, 400, "соединение закрыто до конца запроса", now);
        else
            conn.reset();
        return;
    }
    if (c.state == httpConnection::lingering) {
        c.drained += static_cast<size_t>(n);
        if (c.drained > LINGER_BYTES) conn.reset();
        return;
    }
    if (c.state == httpConnection::idle) {
        c.state = httpConnection::reading;
        c.deadlineUs = now + cfg.readTimeoutUs;
    }
    c.parser().append(buf, static_cast<size_t>(n));
    advance(conn, now);
}

void requestReader::advance(std::unique_ptr<httpConnection>& conn, int64_t now)
{
    requestParser& p = conn->parser();
    switch (p.advance()) {
        case requestParser::failed:
            refuse(conn, p.status(), p.reason(), now);
            return;
        case requestParser::needMore:
            if (p.expectsContinue() && !conn->continueSent) {
                conn->continueSent = true;
                if (!conn->trySend(httpAnswer::continue100())) conn.reset();
            }
            return;
        case requestParser::complete:
            conn->request = p.take();
            conn->request->peer = conn->peer();
            conn->continueSent = false;
            if (!toWorkers(conn)) refuse(conn, 503, "все обработчики заняты", now);
            return;
    }
}

void requestReader::expire(int64_t now)
{
    for (auto& c : conns) {
        if (!c || c->deadlineUs > now) continue;
        if (c->state == httpConnection::reading)
            refuse(c, 408, "запрос не получен за " + seconds(cfg.readTimeoutUs) + " с", now);
        else
            c.reset();  // an idle keep-alive connection, or one whose closing time is up
    }
    dropClosed();
}

// The last answer of a connection: the status, and the connection is closed.
void requestReader::refuse(std::unique_ptr<httpConnection>& conn, int status, const std::string& why,
                           int64_t now)
{
    const httpRequest& r = conn->request ? *conn->request : conn->parser().current();
    std::string what = "Запрос ";
    if (r.lineRead) what += r.head.getMethod() + " " + r.pathForLog() + " ";
    std::string text = what + "от " + conn->peer() + " отклонен (" + std::to_string(status) + "): " + why;
    // A connection that never sent a byte is no request worth a warning (port scans, probes), nor
    // a request to count.
    if (status == 408 && !conn->parser().started()) {
        log.debug(text);
    } else {
        poco_warning(log, text);
        static const int front = stationMetrics::routeSlot("front");
        stationMetrics::httpRequest(front, status);
    }
    if (!conn->trySend(httpAnswer::refusal(status, r.http10))) {
        conn.reset();
        return;
    }
    conn->request.reset();
    linger(*conn, now);
}

void requestReader::linger(httpConnection& conn, int64_t now)
{
    conn.shutdownWrite();
    conn.state = httpConnection::lingering;
    conn.deadlineUs = now + LINGER_US;
    conn.drained = 0;
}

int64_t requestReader::nextDeadline() const
{
    int64_t next = INT64_MAX;
    for (const auto& c : conns)
        if (c && c->deadlineUs < next) next = c->deadlineUs;
    return next;
}

}  // namespace azs_apps
