#pragma once
// Log lines of many threads on their way to one writer, without making the threads wait for each
// other. Every thread appends to a buffer of its own, whose lock it shares only with the writer's
// brief swap; each line takes the next number of one counter, and the writer puts the lines of
// all buffers back into that order. So the file shows the lines in the order they were queued,
// across threads too, while no request thread ever waits for another one's line.
//
// At most byteLimit bytes wait for the writer: a line beyond that is dropped and counted, so a
// writer stalled by the disk costs a bounded amount of memory.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace azs_apps {
namespace weblog {

class lineQueue {
public:
    // onBacklog is called, on the queuing thread, by the line that fills half of byteLimit: the
    // writer should not wait for its next round then.
    explicit lineQueue(size_t byteLimit, std::function<void()> onBacklog = {});
    lineQueue(const lineQueue&) = delete;
    lineQueue& operator=(const lineQueue&) = delete;

    // Queues one line: fill(std::string& out) appends its bytes to out. False when the line was
    // dropped because the queue is full.
    template <class Fill>
    bool push(Fill&& fill);

    // The writer's side, from one thread at a time. collect appends every line queued before the
    // call to out, in queue order, and returns the count of lines queued before the call: every
    // line numbered below it has now been handed out.
    uint64_t collect(std::string& out);
    // The writer is done with that many bytes of what collect handed out (they are written).
    void release(size_t bytes);
    // Lines dropped since the last call.
    uint64_t takeDropped();

    // Lines queued so far.
    uint64_t queued() const { return counters.next.load(std::memory_order_acquire); }

    struct mark {
        uint64_t number;
        size_t end;  // offset just past the line in its buffer
    };
    // One thread's lines.
    struct buffer {
        std::mutex mutex;
        std::string bytes;
        std::vector<mark> marks;
        std::atomic<bool> ended{false};  // its thread appends no more
        // The writer's side of the swap; only the writer touches these.
        std::string taken;
        std::vector<mark> takenMarks;
    };

private:
    const uint64_t id;  // tells the queues apart in the threads' slots
    const size_t byteLimit;
    std::function<void()> onBacklog;

    // Written by every queuing thread: kept apart from the rest.
    struct alignas(64) shared {
        std::atomic<uint64_t> next{0};     // the number of the next line
        std::atomic<size_t> pending{0};    // bytes queued and not yet released by the writer
        std::atomic<uint64_t> dropped{0};  // since the writer last looked
    } counters;

    std::mutex registryMutex;
    std::vector<std::shared_ptr<buffer>> registry;
    // For threads that queue a line while they end, after their own buffer is gone.
    std::shared_ptr<buffer> exitBuffer;

    // The writer's own.
    struct line {
        uint64_t number;
        const char* data;
        size_t size;
    };
    std::vector<std::shared_ptr<buffer>> visiting;
    std::vector<buffer*> finished;  // ended and emptied: leave the registry
    std::vector<line> order;
    std::string carried, carrying;  // lines numbered past a round's cut, held for the next round
    std::vector<mark> carriedMarks, carryingMarks;

    buffer& local();
    buffer& attach();
    // After fill: keeps the bytes from start on as one line, or takes them back when the queue is
    // full. Called with the buffer's lock held.
    enum class outcome { kept, keptAndHalfFull, dropped };
    outcome commit(buffer& b, size_t start);
    void take(const std::vector<mark>& marks, const std::string& bytes, uint64_t cut);
    void forget(const std::vector<buffer*>& gone);
};

template <class Fill>
bool lineQueue::push(Fill&& fill)
{
    buffer& b = local();
    outcome result;
    {
        std::lock_guard<std::mutex> lock(b.mutex);
        size_t start = b.bytes.size();
        try {
            fill(b.bytes);
        } catch (...) {
            b.bytes.resize(start);  // no half line ahead of the next one
            throw;
        }
        result = commit(b, start);
    }
    if (result == outcome::keptAndHalfFull && onBacklog) onBacklog();
    return result != outcome::dropped;
}

}  // namespace weblog
}  // namespace azs_apps
