#include "monitorHub.h"

#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

bool sendWhole(int fd, const std::string& text)
{
    ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return n == static_cast<ssize_t>(text.size());
}

}  // namespace

void monitorHub::add(int fd, const std::vector<std::string>& initial)
{
    std::lock_guard<std::mutex> g(m);
    std::string text;
    for (const std::string& l : initial) text += l + "\n";
    if (!silent && !sendWhole(fd, text)) {
        ::close(fd);
        return;
    }
    fds.push_back(fd);
}

void monitorHub::sendLocked(const std::string& text)
{
    if (silent) return;
    for (size_t i = 0; i < fds.size();) {
        if (sendWhole(fds[i], text)) {
            ++i;
            continue;
        }
        ::close(fds[i]);
        fds.erase(fds.begin() + static_cast<long>(i));
    }
}

void monitorHub::broadcast(const std::string& line)
{
    std::lock_guard<std::mutex> g(m);
    sendLocked(line + "\n");
}

void monitorHub::broadcastRaw(const std::string& text)
{
    std::lock_guard<std::mutex> g(m);
    sendLocked(text);
}

void monitorHub::closeAll()
{
    std::lock_guard<std::mutex> g(m);
    for (int fd : fds) {
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
    fds.clear();
}

size_t monitorHub::clients() const
{
    std::lock_guard<std::mutex> g(m);
    return fds.size();
}

void monitorHub::setSilent(bool on)
{
    std::lock_guard<std::mutex> g(m);
    silent = on;
}

}  // namespace sim
