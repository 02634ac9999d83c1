#include "workerPool.h"

#include "httpConnection.h"

namespace azs_apps {

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

void workerPool::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        ++waiting;
        ready.wait(lock, [this] { return !queue.empty() || finishing; });
        --waiting;
        if (queue.empty()) return;  // finishing and nothing left to serve
        job j = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        serve(std::move(j));
        lock.lock();
    }
}

}  // namespace azs_apps
