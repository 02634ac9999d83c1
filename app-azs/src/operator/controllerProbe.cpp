#include "controllerProbe.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "timeSource.h"

namespace azs_apps {

namespace {

// The IPv4 address of host, as the controller session resolves it; false when it does not resolve.
bool resolve(const std::string& host, unsigned port, sockaddr_in& addr)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (port == 0 || port > 65535 || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
    addr = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ::freeaddrinfo(found);
    return true;
}

// A non-blocking connect, waited for within the budget (nominal microseconds).
bool connectWithin(int fd, const sockaddr_in& addr, int64_t budgetUs)
{
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno != EINPROGRESS) return false;
    pollfd p{fd, POLLOUT, 0};
    const int64_t realUs = pcudata::timeSrc().realWaitUs(budgetUs);
    int n = 0;
    do {
        n = ::poll(&p, 1, static_cast<int>(realUs / 1000) + 1);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    int error = 0;
    socklen_t len = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
}

}  // namespace

controllerProbe::controllerProbe(std::string host, unsigned port)
    : host(std::move(host)), port(port), log(Poco::Logger::get("fuelweb/operator"))
{
    thread = std::thread([this] { run(); });
}

controllerProbe::~controllerProbe()
{
    {
        std::lock_guard<std::mutex> lock(m);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

controllerProbe::result controllerProbe::last() const
{
    std::lock_guard<std::mutex> lock(m);
    return seen;
}

int64_t controllerProbe::probeOnce(const std::string& host, unsigned port)
{
    sockaddr_in addr{};
    if (!resolve(host, port, addr)) return -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    pcudata::timeSource& clock = pcudata::timeSrc();
    const int64_t startUs = clock.nowUs();
    const bool ok = connectWithin(fd, addr, CONNECT_BUDGET_US);
    const int64_t tookUs = clock.nowUs() - startUs;
    ::close(fd);
    if (!ok) return -1;
    return tookUs > 0 ? tookUs : 1;
}

void controllerProbe::run()
{
    pcudata::timeSource& clock = pcudata::timeSrc();
    std::unique_lock<std::mutex> lock(m);
    while (!stopping) {
        lock.unlock();
        note(probeOnce(host, port));
        lock.lock();
        wake.wait_for(lock, std::chrono::microseconds(clock.realWaitUs(PROBE_EVERY_SEC * pcudata::SECOND_US)),
                      [this] { return stopping; });
    }
}

void controllerProbe::note(int64_t roundTripUs)
{
    const time_t now = pcudata::timeSrc().now();
    const bool up = roundTripUs >= 0;
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(m);
        changed = !seen.probed || seen.connected != up;
        if (changed) seen.since = now;
        seen.probed = true;
        seen.connected = up;
        if (up) seen.roundTripUs = roundTripUs;
        seen.at = now;
    }
    const std::string where = host + ":" + std::to_string(port);
    if (!changed) return;
    if (up) {
        poco_information(log, "Порт управления контроллера " + where + " отвечает");
    } else {
        poco_warning(log, "Порт управления контроллера " + where + " не отвечает");
    }
}

}  // namespace azs_apps
