#pragma once
// One place for every clock read and every pause of the library and both programs.
//
// Waits in this system are long by design (1.5 s between connect attempts, 2-3 s lock waits, 10 s
// read budgets, notices retried for minutes). Routing them through one replaceable object lets the
// tests run the same code paths with the waits compressed into milliseconds. The default source is
// the real clock; nothing changes in production.
#include <cstdint>
#include <ctime>

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

// The process-wide source. Never null.
timeSource& timeSrc();
// Replace the process-wide source; nullptr restores the real clock. The caller keeps ownership and
// must keep the object alive while it is installed.
void setTimeSource(timeSource* src);

// RAII helper for tests: installs a source for the lifetime of the guard.
class timeSourceGuard {
public:
    explicit timeSourceGuard(timeSource* src) { setTimeSource(src); }
    ~timeSourceGuard() { setTimeSource(nullptr); }
    timeSourceGuard(const timeSourceGuard&) = delete;
    timeSourceGuard& operator=(const timeSourceGuard&) = delete;
};

}  // namespace pcudata
