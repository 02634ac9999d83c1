#include "pumpPoller.h"

#include <chrono>

#include "timeSource.h"

namespace azs_apps {

namespace {

std::mutex registryMutex;
std::map<std::string, std::weak_ptr<pumpPoller>> byTable;

uint64_t startOf(const char (&field)[pcudata::TRK_TEXT_SIZE])
{
    uint64_t start = 0;
    for (size_t i = 0; i < sizeof start; ++i)
        start = (start << 8) | static_cast<unsigned char>(pcudata::peek(field[i]));
    return start;
}

}  // namespace

std::shared_ptr<pumpPoller> pumpPoller::forTable(const std::string& keyFile)
{
    std::lock_guard<std::mutex> g(registryMutex);
    std::shared_ptr<pumpPoller> poller = byTable[keyFile].lock();
    if (poller) return poller;
    poller = std::make_shared<pumpPoller>(keyFile);
    byTable[keyFile] = poller;
    return poller;
}

pumpPoller::pumpPoller(const std::string& keyFile)
{
    table.setIpcPath(keyFile);
    table.shmInit();
    thread = std::thread([this] { run(); });
}

pumpPoller::~pumpPoller()
{
    {
        std::lock_guard<std::mutex> g(m);
        stopping = true;
    }
    thread.join();
}

pumpPoller::watchSlot* pumpPoller::add(int pump)
{
    std::lock_guard<std::mutex> g(m);
    slots.emplace_back();
    slots.back().pump = pump;
    if (pump >= 1 && pump <= pcudata::TRK_COUNT) ++watching[static_cast<size_t>(pump)];
    return &slots.back();
}

void pumpPoller::remove(watchSlot* s)
{
    std::lock_guard<std::mutex> g(m);
    for (auto it = slots.begin(); it != slots.end(); ++it) {
        if (&*it != s) continue;
        if (s->pump >= 1 && s->pump <= pcudata::TRK_COUNT) --watching[static_cast<size_t>(s->pump)];
        slots.erase(it);
        return;
    }
}

void pumpPoller::run()
{
    time_t second = 0;
    for (;;) {
        pcudata::timeSrc().sleepUs(POLL_US);
        std::lock_guard<std::mutex> g(m);
        if (stopping) return;
        pass(second);
    }
}

void pumpPoller::pass(time_t& second)
{
    const time_t now = pcudata::timeSrc().now();
    const bool ticked = now != second;
    second = now;
    // Once per pass: a stale table shows every pump out of reach.
    const bool fresh = table.tableFresh();
    for (int pump = 1; pump <= pcudata::TRK_COUNT; ++pump) {
        if (watching[static_cast<size_t>(pump)] == 0) continue;
        const snapshot seen = read(pump, fresh);
        snapshot& before = last[static_cast<size_t>(pump)];
        const bool changed = seen != before;
        before = seen;
        if (!changed && !ticked) continue;
        for (watchSlot& s : slots) {
            if (s.pump != pump) continue;
            s.changed = true;
            s.wake.notify_one();
        }
    }
}

pumpPoller::snapshot pumpPoller::read(int pump, bool fresh)
{
    snapshot s;
    const pcudata::trkState_t* rec = table.getTrkState(pump);
    if (rec == nullptr) return s;
    s.status = fresh ? pcudata::peek(rec->status) : pcudata::trkStatus::NO_CONTROLLER;
    s.notifyDue = pcudata::peek(rec->notifyDue);
    s.trannum = pcudata::peek(rec->trannum);
    s.tagged = pcudata::peek(rec->tagged);
    s.tagStart = startOf(rec->orderId);
    return s;
}

// --- one watch -------------------------------------------------------------------------------------

pumpPoller::watcher::watcher(pcudata::pcuControl& table, int pump)
    : poller(forTable(table.getIpcPath())), own(poller->add(pump))
{
}

pumpPoller::watcher::~watcher()
{
    poller->remove(own);
}

void pumpPoller::watcher::waitChange()
{
    // Also at least once a second without the poller: a watch never sleeps for good.
    const int64_t realUs = pcudata::timeSrc().realWaitUs(pcudata::SECOND_US);
    std::unique_lock<std::mutex> lock(poller->m);
    own->wake.wait_for(lock, std::chrono::microseconds(realUs), [this] { return own->changed; });
    own->changed = false;
}

}  // namespace azs_apps
