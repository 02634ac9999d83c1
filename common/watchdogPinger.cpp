#include "watchdogPinger.h"

#include <algorithm>
#include <chrono>

#include "libLog.h"
#include "systemdNotify.h"
#include "timeSource.h"

namespace pcudata {

watchdogPinger::watchdogPinger(heartbeatBoard& b, int64_t limit, std::function<std::string()> st)
    : board(b), limitUs(limit), status(std::move(st))
{
}

watchdogPinger::~watchdogPinger()
{
    stop();
}

int64_t watchdogPinger::limitFor(int64_t watchdogUs)
{
    return std::max(2 * watchdogUs, MIN_LIMIT_US);
}

bool watchdogPinger::round()
{
    if (status) {
        const std::string text = status();
        if (!text.empty() && text != lastStatus && systemdNotify::send("STATUS=" + text)) lastStatus = text;
    }
    const std::vector<heartbeatBoard::stall> late = board.stalled(timeSrc().nowUs(), limitUs);
    if (!late.empty()) {
        if (!stalled) {
            libLog::write(libLog::error, "Поток '" + late.front().name + "' не подаёт признаков работы " +
                                             std::to_string(late.front().silentUs / 1000000) +
                                             " с: сигналы сторожевому таймеру systemd прекращены");
        }
        stalled = true;
        return false;
    }
    if (stalled)
        libLog::write(libLog::notice, "Все потоки снова работают: сигналы сторожевому таймеру возобновлены");
    stalled = false;
    systemdNotify::send("WATCHDOG=1");
    return true;
}

void watchdogPinger::start(int64_t periodUs)
{
    thread = std::thread([this, periodUs] {
        std::unique_lock<std::mutex> g(m);
        while (!stopping) {
            g.unlock();
            round();
            g.lock();
            wake.wait_for(g, std::chrono::microseconds(periodUs), [this] { return stopping; });
        }
    });
}

void watchdogPinger::stop()
{
    {
        std::lock_guard<std::mutex> g(m);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable()) thread.join();
}

}  // namespace pcudata
