#include "soakClock.h"

#include <thread>

namespace soak {

const soakClock& runClock()
{
    static const soakClock clock;
    return clock;
}

bool pause(double seconds, const std::atomic<bool>& stop)
{
    const double end = runClock().now() + seconds;
    while (!stop) {
        const double left = end - runClock().now();
        if (left <= 0) return true;
        std::this_thread::sleep_for(std::chrono::duration<double>(left < 0.05 ? left : 0.05));
    }
    return false;
}

void pause(double seconds)
{
    if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

}  // namespace soak
