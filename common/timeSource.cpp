#include "timeSource.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace pcudata {

namespace {
timeSource realSource;
std::atomic<timeSource*> current{&realSource};
thread_local pauseBreaker* threadBreaker = nullptr;

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
    if (us <= 0) return;
    if (threadBreaker != nullptr)
        threadBreaker->waitUs(us);
    else
        std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void pauseBreaker::trip()
{
    {
        std::lock_guard<std::mutex> g(m);
        isTripped = true;
    }
    cv.notify_all();
}

void pauseBreaker::reset()
{
    std::lock_guard<std::mutex> g(m);
    isTripped = false;
}

bool pauseBreaker::tripped()
{
    std::lock_guard<std::mutex> g(m);
    return isTripped;
}

void pauseBreaker::waitUs(int64_t us)
{
    std::unique_lock<std::mutex> g(m);
    cv.wait_for(g, std::chrono::microseconds(us), [this] { return isTripped; });
}

breakablePauses::breakablePauses(pauseBreaker& b)
{
    threadBreaker = &b;
}

breakablePauses::~breakablePauses()
{
    threadBreaker = nullptr;
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
