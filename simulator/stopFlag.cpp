#include "stopFlag.h"

#include <fcntl.h>
#include <unistd.h>
#include <chrono>

namespace sim {

stopFlag::stopFlag()
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) pipeFds[0] = pipeFds[1] = -1;
}

stopFlag::~stopFlag()
{
    for (int fd : pipeFds)
        if (fd >= 0) ::close(fd);
}

void stopFlag::raise()
{
    {
        std::lock_guard<std::mutex> g(m);
        stopped = true;
    }
    cv.notify_all();
    char c = 1;
    if (pipeFds[1] >= 0 && ::write(pipeFds[1], &c, 1) < 0) {
        // A full pipe is already readable; nothing more to do.
    }
}

void stopFlag::reset()
{
    std::lock_guard<std::mutex> g(m);
    stopped = false;
    char buf[64];
    while (pipeFds[0] >= 0 && ::read(pipeFds[0], buf, sizeof buf) > 0) {
    }
}

bool stopFlag::raised() const
{
    std::lock_guard<std::mutex> g(m);
    return stopped;
}

bool stopFlag::sleepMs(int ms)
{
    std::unique_lock<std::mutex> g(m);
    return !cv.wait_for(g, std::chrono::milliseconds(ms), [this] { return stopped; });
}

}  // namespace sim
