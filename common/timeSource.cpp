#include "timeSource.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace pcudata {

namespace {
timeSource realSource;
std::atomic<timeSource*> current{&realSource};

int64_t realNowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

time_t timeSource::now() { return ::time(nullptr); }

int64_t timeSource::nowUs() { return realNowUs(); }

void timeSource::sleepUs(int64_t us)
{
    if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

scaledTimeSource::scaledTimeSource(double f) : factor(f > 0 ? f : 1.0), startUs(realNowUs()) {}

int64_t scaledTimeSource::nowUs()
{
    int64_t elapsed = realNowUs() - startUs;
    return startUs + static_cast<int64_t>(static_cast<double>(elapsed) * factor);
}

time_t scaledTimeSource::now() { return static_cast<time_t>(nowUs() / 1000000); }

void scaledTimeSource::sleepUs(int64_t us) { timeSource::sleepUs(realWaitUs(us)); }

int64_t scaledTimeSource::realWaitUs(int64_t us)
{
    if (us <= 0) return 0;
    int64_t real = static_cast<int64_t>(static_cast<double>(us) / factor);
    return real > 0 ? real : 1;
}

timeSource& timeSrc() { return *current.load(std::memory_order_acquire); }

void setTimeSource(timeSource* src)
{
    current.store(src ? src : &realSource, std::memory_order_release);
}

}  // namespace pcudata
