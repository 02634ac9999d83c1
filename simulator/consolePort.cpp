#include "consolePort.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include "simConsole.h"

namespace sim {

int consolePort::start(int port)
{
    if (worker.joinable()) return EALREADY;
    int err = listener.open(port);
    if (err != 0) return err;
    stopping.reset();
    worker = std::thread([this] { run(); });
    return 0;
}

void consolePort::stop()
{
    if (!worker.joinable()) return;
    stopping.raise();
    worker.join();
    listener.close();
}

void consolePort::run()
{
    pollfd fds[2] = {{listener.fd(), POLLIN, 0}, {stopping.pollFd(), POLLIN, 0}};
    while (::poll(fds, 2, -1) >= 0 && !fds[1].revents) {
        int fd = fds[0].revents & POLLIN ? listener.accept() : -1;
        if (fd < 0) continue;
        serve(fd);
        ::close(fd);
    }
}

// Reads commands until the client leaves or the port is stopped.
void consolePort::serve(int fd)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopping.pollFd(), POLLIN, 0}};
    std::string buf;
    char chunk[1024];
    while (::poll(fds, 2, -1) >= 0 && !fds[1].revents) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0 || buf.size() > 64 * 1024) return;
        buf.append(chunk, static_cast<size_t>(n));
        size_t nl;
        while ((nl = buf.find('\n')) != std::string::npos) {
            std::string line = buf.substr(0, nl);
            buf.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!sendAll(fd, runConsoleCommand(sim, line) + "\n\n")) return;
        }
    }
}

}  // namespace sim
