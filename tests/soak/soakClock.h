#pragma once
// Time of the soak: real time, as seconds since the run began, and pauses that end early when the
// run is told to stop.
#include <atomic>
#include <chrono>

namespace soak {

class soakClock {
public:
    soakClock() : begin(std::chrono::steady_clock::now()) {}
    double now() const
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }

private:
    std::chrono::steady_clock::time_point begin;
};

// The process-wide clock of the run.
const soakClock& runClock();

// Sleeps for the given seconds in short steps; false when `stop` came true meanwhile.
bool pause(double seconds, const std::atomic<bool>& stop);
void pause(double seconds);

}  // namespace soak
