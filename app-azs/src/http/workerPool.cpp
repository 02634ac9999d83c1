#include "workerPool.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "heartbeat.h"
#include "httpConnection.h"

namespace azs_apps {

namespace {

// How often a waiting worker stamps its heartbeat: it is idle, not stuck.
constexpr auto IDLE_BEAT = std::chrono::seconds(1);

// For the package's watchdog check only: with FUELWEB_TEST_HANG_WORKER=1 in its environment, the
// worker that takes the process's first request hangs for good, as a worker caught in a deadlock
// would, so that the check can see systemd restart the service. Nothing else reads the variable.
std::atomic<bool> hangArmed{[] {
    const char* v = std::getenv("FUELWEB_TEST_HANG_WORKER");
    return v != nullptr && std::strcmp(v, "1") == 0;
}()};

void hangIfArmed()
{
    if (!hangArmed.exchange(false)) return;
    std::mutex never;
    std::condition_variable nothing;
    std::unique_lock<std::mutex> lock(never);
    nothing.wait(lock, [] { return false; });
}

}  // namespace

workerPool::workerPool(size_t threads, size_t queued, handler serve)
    : maxThreads(threads), maxQueued(queued), serve(std::move(serve))
{
}

workerPool::~workerPool()
{
    finish();
}

bool workerPool::submit(job& j)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (finishing || queue.size() >= maxQueued) return false;
    queue.push_back(std::move(j));
    // Every job queued beyond the threads that wait for one needs a thread of its own.
    if (queue.size() > waiting && threads.size() < maxThreads)
        threads.emplace_back([this] { run(); });
    else
        ready.notify_one();
    return true;
}

void workerPool::finish()
{
    std::vector<std::thread> all;
    {
        std::lock_guard<std::mutex> lock(mutex);
        finishing = true;
        all.swap(threads);
    }
    ready.notify_all();
    for (std::thread& t : all) t.join();
}

size_t workerPool::started() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return threads.size();
}

// A worker's heartbeat: stamped while it waits, when it takes a request and when it is done. A
// request stamps it further whenever it pauses (a delivery watched for minutes pauses every
// round), so only a worker stuck inside one request falls silent.
void workerPool::run()
{
    pcudata::heartbeat beat("http worker");
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        ++waiting;
        while (!ready.wait_for(lock, IDLE_BEAT, [this] { return !queue.empty() || finishing; })) beat.stamp();
        --waiting;
        if (queue.empty()) return;  // finishing and nothing left to serve
        job j = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        beat.stamp();
        hangIfArmed();
        serve(std::move(j));
        beat.stamp();
        lock.lock();
    }
}

}  // namespace azs_apps
