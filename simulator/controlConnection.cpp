#include "controlConnection.h"

#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "tcpListener.h"

namespace sim {

controlConnection::controlConnection(int fd_, handler h, stopFlag& stop_)
    : fd(fd_), onLine(std::move(h)), stop(stop_), worker([this] { run(); })
{
}

controlConnection::~controlConnection()
{
    shutdown();
    if (worker.joinable()) worker.join();
    ::close(fd);
}

void controlConnection::shutdown()
{
    ::shutdown(fd, SHUT_RDWR);
}

bool controlConnection::send(const std::string& text)
{
    std::lock_guard<std::mutex> g(writeMutex);
    return sendAll(fd, text);
}

bool controlConnection::serve(const std::string& line)
{
    controlOutcome out = onLine(session, line);
    if (out.closeBefore) return false;
    if (!out.early.empty() && !send(out.early)) return false;
    if (out.delayMs > 0 && !stop.sleepMs(out.delayMs)) return false;
    if (!out.late.empty() && !send(out.late)) return false;
    return !out.closeAfter;
}

void controlConnection::run()
{
    std::string buf;
    char chunk[4096];
    bool open = true;
    while (open) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buf.append(chunk, static_cast<size_t>(n));
        size_t nl;
        while (open && (nl = buf.find('\n')) != std::string::npos) {
            std::string line = buf.substr(0, nl);
            buf.erase(0, nl + 1);
            open = serve(line);
        }
        if (buf.size() > maxLine) open = false;
    }
    shutdown();
    done = true;
}

}  // namespace sim
