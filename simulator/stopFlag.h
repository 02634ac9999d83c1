#pragma once
// A stop request that sleeping threads notice at once: the simulator's tick loop and the delayed
// replies sleep on it, so stop() never waits for a sleep to run out. It also owns a pipe whose read
// end becomes readable on stop, for threads that wait in poll().
#include <condition_variable>
#include <mutex>

namespace sim {

class stopFlag {
public:
    stopFlag();
    ~stopFlag();
    stopFlag(const stopFlag&) = delete;
    stopFlag& operator=(const stopFlag&) = delete;

    void raise();
    void reset();
    bool raised() const;
    // Sleeps up to ms milliseconds; false when the flag was (or got) raised.
    bool sleepMs(int ms);
    int pollFd() const { return pipeFds[0]; }

private:
    mutable std::mutex m;
    std::condition_variable cv;
    bool stopped = false;
    int pipeFds[2] = {-1, -1};
};

}  // namespace sim
