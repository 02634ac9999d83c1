#include "timeSource.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "heartbeat.h"

namespace pcudata {

namespace {
// The real clock, made on first use and never destroyed: threads that outlive main() (a log
// writer, a pool's thread) may still read it while the statics are destroyed.
timeSource& realSource()
{
    static timeSource* const r = new timeSource;
    return *r;
}
// The installed source; null: the real clock.
std::atomic<timeSource*> current{nullptr};
thread_local pauseBreaker* threadBreaker = nullptr;

int64_t realNowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

time_t timeSource::now()
{
    return ::time(nullptr);
}

int64_t timeSource::nowUs()
{
    return realNowUs();
}

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

time_t scaledTimeSource::now()
{
    return static_cast<time_t>(nowUs() / 1000000);
}

void scaledTimeSource::sleepUs(int64_t us)
{
    timeSource::sleepUs(realWaitUs(us));
}

int64_t scaledTimeSource::realWaitUs(int64_t us)
{
    if (us <= 0) return 0;
    int64_t real = static_cast<int64_t>(static_cast<double>(us) / factor);
    return real > 0 ? real : 1;
}

namespace {

// What timeSrc() hands out: it passes each call on to the installed source. Calls on a source
// other than the real clock are counted, and replacing that source waits until none is left in
// progress, so that the caller may destroy it as soon as it is replaced although other threads
// (a service's connection reader, a handler still journaling after its answer) read the clock
// all the while. The real clock lives as long as the process and is called without counting.
class switchingSource : public timeSource {
    std::mutex m;
    std::condition_variable idle;
    std::map<timeSource*, int> callsOn;

    template <class F>
    auto call(F f)
    {
        timeSource* s = current.load(std::memory_order_acquire);
        if (s == nullptr) return f(realSource());
        {
            std::lock_guard<std::mutex> lock(m);
            s = current.load(std::memory_order_relaxed);
            if (s != nullptr) ++callsOn[s];
        }
        if (s == nullptr) return f(realSource());
        auto result = f(*s);
        {
            std::lock_guard<std::mutex> lock(m);
            --callsOn[s];
        }
        idle.notify_all();
        return result;
    }

public:
    time_t now() override
    {
        return call([](timeSource& s) { return s.now(); });
    }
    int64_t nowUs() override
    {
        return call([](timeSource& s) { return s.nowUs(); });
    }
    // A thread that pauses is going round a loop: the pause stamps its heartbeat (heartbeat.h).
    void sleepUs(int64_t us) override
    {
        call([us](timeSource& s) {
            s.sleepUs(us);
            return 0;
        });
        heartbeat::beat();
    }
    int64_t realWaitUs(int64_t us) override
    {
        return call([us](timeSource& s) { return s.realWaitUs(us); });
    }

    void install(timeSource* src)
    {
        std::unique_lock<std::mutex> lock(m);
        timeSource* old = current.load(std::memory_order_relaxed);
        if (old == src) return;
        current.store(src, std::memory_order_release);
        idle.wait(lock, [&] { return old == nullptr || callsOn[old] == 0; });
        callsOn.erase(old);
    }
};

// Made on first use, whatever the order of static initialisation, and never destroyed: threads
// that outlive main() may still read the clock.
switchingSource& switching()
{
    static switchingSource* const s = new switchingSource;
    return *s;
}

}  // namespace

timeSource& timeSrc()
{
    return switching();
}

void setTimeSource(timeSource* src)
{
    switching().install(src);
}

}  // namespace pcudata
