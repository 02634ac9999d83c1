#include "lineQueue.h"

#include <algorithm>

#include "stationMetrics.h"

namespace azs_apps {
namespace weblog {

namespace {

// Beyond these a buffer's storage is given back after a round instead of kept for the next one,
// so that one burst does not hold its memory for good.
constexpr size_t KEEP_BYTES = 64 * 1024;
constexpr size_t KEEP_MARKS = 1024;

std::atomic<uint64_t> queueIds{1};

// The buffer this thread appends to, looked up without a lock. Plain data, so it stays readable
// while the thread's other objects are destroyed at its end.
struct fastSlot {
    uint64_t queue;  // 0: none
    lineQueue::buffer* buf;
    bool exited;
};
thread_local fastSlot fast{0, nullptr, false};

// Keeps the thread's buffer alive and marks it ended when the thread ends (or moves on to
// another queue), so that the writer can drop it once it is empty.
struct slotOwner {
    std::shared_ptr<lineQueue::buffer> buf;
    ~slotOwner()
    {
        if (buf) buf->ended.store(true, std::memory_order_release);
        fast = fastSlot{0, nullptr, true};
    }
};
thread_local slotOwner owner;

void giveBackIfLarge(lineQueue::buffer& b)
{
    if (b.taken.capacity() > KEEP_BYTES) std::string().swap(b.taken);
    if (b.takenMarks.capacity() > KEEP_MARKS) std::vector<lineQueue::mark>().swap(b.takenMarks);
    b.taken.clear();
    b.takenMarks.clear();
}

}  // namespace

lineQueue::lineQueue(size_t byteLimit, std::function<void()> onBacklog)
    : id(queueIds.fetch_add(1)),
      byteLimit(byteLimit),
      onBacklog(std::move(onBacklog)),
      exitBuffer(std::make_shared<buffer>())
{
    registry.push_back(exitBuffer);
}

lineQueue::buffer& lineQueue::local()
{
    if (fast.queue == id) return *fast.buf;
    return attach();
}

lineQueue::buffer& lineQueue::attach()
{
    if (fast.exited) return *exitBuffer;
    auto b = std::make_shared<buffer>();
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry.push_back(b);
    }
    if (owner.buf) owner.buf->ended.store(true, std::memory_order_release);
    owner.buf = b;
    fast = fastSlot{id, b.get(), false};
    return *b;
}

lineQueue::outcome lineQueue::commit(buffer& b, size_t start)
{
    const size_t size = b.bytes.size() - start;
    const size_t before = counters.pending.fetch_add(size, std::memory_order_relaxed);
    if (before + size > byteLimit) {
        counters.pending.fetch_sub(size, std::memory_order_relaxed);
        b.bytes.resize(start);
        counters.dropped.fetch_add(1, std::memory_order_relaxed);
        stationMetrics::logLinesDropped(1);
        return outcome::dropped;
    }
    // Numbered while the buffer's lock is held: a writer that has seen this number can only take
    // the buffer after the line is in it (see collect).
    b.marks.push_back({counters.next.fetch_add(1, std::memory_order_relaxed), b.bytes.size()});
    const size_t half = byteLimit / 2;
    return before < half && before + size >= half ? outcome::keptAndHalfFull : outcome::kept;
}

// Every line numbered below the cut is in its buffer by the time the writer takes that buffer:
// its number was taken under the buffer's lock, before the cut was read. Lines numbered from the
// cut on may still be missing from other buffers; they wait for the next round, so that no line
// ever goes out before one queued ahead of it.
uint64_t lineQueue::collect(std::string& out)
{
    const uint64_t cut = counters.next.load(std::memory_order_acquire);
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        visiting = registry;
    }
    order.clear();
    carrying.clear();
    carryingMarks.clear();
    take(carriedMarks, carried, cut);
    finished.clear();
    for (const std::shared_ptr<buffer>& b : visiting) {
        // Ended before the swap: nothing can have been appended since, so an empty take means the
        // buffer is done with.
        const bool ended = b->ended.load(std::memory_order_acquire);
        {
            std::lock_guard<std::mutex> lock(b->mutex);
            b->bytes.swap(b->taken);
            b->marks.swap(b->takenMarks);
        }
        if (ended && b->takenMarks.empty()) finished.push_back(b.get());
        take(b->takenMarks, b->taken, cut);
    }
    std::sort(order.begin(), order.end(), [](const line& a, const line& b) { return a.number < b.number; });
    for (const line& l : order) out.append(l.data, l.size);

    for (const std::shared_ptr<buffer>& b : visiting) giveBackIfLarge(*b);
    carried.swap(carrying);
    carriedMarks.swap(carryingMarks);
    if (!finished.empty()) forget(finished);
    visiting.clear();
    return cut;
}

void lineQueue::forget(const std::vector<buffer*>& gone)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    registry.erase(std::remove_if(registry.begin(), registry.end(),
                                  [&gone](const std::shared_ptr<buffer>& b) {
                                      return std::find(gone.begin(), gone.end(), b.get()) != gone.end();
                                  }),
                   registry.end());
}

void lineQueue::take(const std::vector<mark>& marks, const std::string& bytes, uint64_t cut)
{
    size_t begin = 0;
    for (const mark& m : marks) {
        if (m.number < cut) {
            order.push_back({m.number, bytes.data() + begin, m.end - begin});
        } else {
            carrying.append(bytes, begin, m.end - begin);
            carryingMarks.push_back({m.number, carrying.size()});
        }
        begin = m.end;
    }
}

void lineQueue::release(size_t bytes)
{
    counters.pending.fetch_sub(bytes, std::memory_order_relaxed);
}

uint64_t lineQueue::takeDropped()
{
    return counters.dropped.exchange(0, std::memory_order_relaxed);
}

}  // namespace weblog
}  // namespace azs_apps
