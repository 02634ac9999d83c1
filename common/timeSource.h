#pragma once
// One place for every clock read and every pause of the library and both programs.
//
// Waits in this system are long by design (1.5 s between connect attempts, 2-3 s lock waits, 10 s
// read budgets, notices retried for minutes). Routing them through one replaceable object lets the
// tests run the same code paths with the waits compressed into milliseconds. The default source is
// the real clock; nothing changes in production.
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace pcudata {

class timeSource {
public:
    virtual ~timeSource() = default;
    // Wall clock, seconds since the epoch (what time() returns).
    virtual time_t now();
    // Wall clock, microseconds since the epoch.
    virtual int64_t nowUs();
    // Pause the calling thread for a nominal number of microseconds.
    virtual void sleepUs(int64_t us);
    // Real length of a nominal wait handed to select()/poll(), in microseconds.
    virtual int64_t realWaitUs(int64_t us) { return us; }
};

// Runs time faster by a factor: a nominal second lasts 1/factor real seconds, and the clock it
// reports advances factor times faster than the real one, so budgets and deadlines keep their
// meaning. Used by tests of the multi-second waits.
class scaledTimeSource : public timeSource {
public:
    explicit scaledTimeSource(double factor);
    time_t now() override;
    int64_t nowUs() override;
    void sleepUs(int64_t us) override;
    int64_t realWaitUs(int64_t us) override;

private:
    double factor;
    int64_t startUs;  // real wall clock when the source was made
};

// The process-wide source. Each call on it reaches the source installed at the time of the call,
// so a reference to it may be kept. A pause through it stamps the calling thread's heartbeat.
timeSource& timeSrc();

constexpr int64_t SECOND_US = 1000000;

// Pauses the calling thread for a nominal time, through the process-wide source.
inline void pauseUs(int64_t us)
{
    timeSrc().sleepUs(us);
}
// Replace the process-wide source; nullptr restores the real clock. The caller keeps ownership and
// must keep the object alive while it is installed. Returns once no thread is inside a call on the
// source replaced (a pause included), so that the caller may destroy it then.
void setTimeSource(timeSource* src);

// Cuts short the real pauses of the threads that wait under it (see breakablePauses): some waits
// may be given up when the process is about to end, while others (a pump being watched) must run
// their length. Once tripped it stays so until reset.
class pauseBreaker {
public:
    void trip();
    void reset();
    bool tripped();
    // A real wait of us microseconds that ends at once when the breaker trips.
    void waitUs(int64_t us);

private:
    std::mutex m;
    std::condition_variable cv;
    bool isTripped = false;
};

// While it lives, the real pauses of the calling thread (timeSource::sleepUs, and the sources
// that pause through it) end as soon as the breaker trips. Scopes do not nest.
class breakablePauses {
public:
    explicit breakablePauses(pauseBreaker& b);
    ~breakablePauses();
    breakablePauses(const breakablePauses&) = delete;
    breakablePauses& operator=(const breakablePauses&) = delete;
};

// RAII helper for tests: installs a source for the lifetime of the guard.
class timeSourceGuard {
public:
    explicit timeSourceGuard(timeSource* src) { setTimeSource(src); }
    ~timeSourceGuard() { setTimeSource(nullptr); }
    timeSourceGuard(const timeSourceGuard&) = delete;
    timeSourceGuard& operator=(const timeSourceGuard&) = delete;
};

}  // namespace pcudata
