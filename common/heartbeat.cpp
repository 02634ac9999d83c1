#include "heartbeat.h"

#include <algorithm>

#include "timeSource.h"

namespace pcudata {

namespace {
thread_local heartbeat* threadHeartbeat = nullptr;
}  // namespace

std::shared_ptr<heartbeatBoard::slot> heartbeatBoard::enrol(const std::string& name)
{
    auto s = std::make_shared<slot>();
    s->name = name;
    s->beatUs = timeSrc().nowUs();
    std::lock_guard<std::mutex> g(m);
    slots.push_back(s);
    return s;
}

void heartbeatBoard::leave(const std::shared_ptr<slot>& s)
{
    std::lock_guard<std::mutex> g(m);
    slots.erase(std::remove(slots.begin(), slots.end(), s), slots.end());
}

std::vector<heartbeatBoard::stall> heartbeatBoard::stalled(int64_t nowUs, int64_t limitUs) const
{
    std::vector<stall> out;
    std::lock_guard<std::mutex> g(m);
    for (const auto& s : slots) {
        const int64_t silent = nowUs - s->beatUs.load(std::memory_order_relaxed);
        if (silent > limitUs) out.push_back({s->name, silent});
    }
    return out;
}

size_t heartbeatBoard::size() const
{
    std::lock_guard<std::mutex> g(m);
    return slots.size();
}

heartbeatBoard& heartbeats()
{
    static heartbeatBoard* board = new heartbeatBoard;  // threads may stamp up to the process's end
    return *board;
}

heartbeat::heartbeat(const std::string& name, heartbeatBoard& b)
    : board(b), own(b.enrol(name)), outer(threadHeartbeat)
{
    threadHeartbeat = this;
}

heartbeat::~heartbeat()
{
    threadHeartbeat = outer;
    board.leave(own);
}

void heartbeat::stamp()
{
    own->beatUs.store(timeSrc().nowUs(), std::memory_order_relaxed);
}

void heartbeat::beat()
{
    if (threadHeartbeat != nullptr) threadHeartbeat->stamp();
}

}  // namespace pcudata
