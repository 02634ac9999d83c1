#pragma once
// The threads that serve complete requests. Only requests that have arrived whole are queued here,
// so a worker never waits for a client: it runs the handler and writes the answer. Threads are
// started as requests need them, up to the configured number, and then stay.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace azs_apps {

class httpConnection;

class workerPool {
public:
    using job = std::unique_ptr<httpConnection>;
    using handler = std::function<void(job)>;

    // threads: requests served at once; queued: complete requests that may wait for a thread.
    workerPool(size_t threads, size_t queued, handler serve);
    // finish()
    ~workerPool();
    workerPool(const workerPool&) = delete;
    workerPool& operator=(const workerPool&) = delete;

    // Queues the connection's request. False (and the job left to the caller) when the queue is
    // full or the pool is finishing.
    bool submit(job& j);
    // Serves what is queued, waits until every running request is done and ends the threads.
    void finish();

    size_t started() const;

private:
    const size_t maxThreads;
    const size_t maxQueued;
    handler serve;
    mutable std::mutex mutex;
    std::condition_variable ready;
    std::deque<job> queue;
    std::vector<std::thread> threads;
    size_t waiting = 0;  // threads waiting for a job
    bool finishing = false;

    void run();
};

}  // namespace azs_apps
