#include "deliveryTracker.h"

#include <chrono>

namespace soak {

namespace {

// Preset given, delivering, paused, ended, waiting for settlement, stopped: the figures are the
// transaction's own.
bool showsItsTransaction(int status)
{
    return (status >= 4 && status <= 9) || status == 11 || status == 14;
}

}  // namespace

deliveryTracker::deliveryTracker(sim::pcuSimulator& p, std::vector<int> n) : pcu(p), pumps(std::move(n))
{
    reader = std::thread([this] {
        while (!stopping) {
            readAll();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
}

deliveryTracker::~deliveryTracker()
{
    stopping = true;
    reader.join();
}

void deliveryTracker::readAll()
{
    for (int n : pumps) {
        const sim::pumpState st = pcu.pump(n);
        if (!showsItsTransaction(st.status)) continue;
        std::lock_guard<std::mutex> g(m);
        volumes[{n, st.trannum}] = st.volume;
    }
}

int64_t deliveryTracker::delivered(int pump, int trannum) const
{
    std::lock_guard<std::mutex> g(m);
    auto it = volumes.find({pump, trannum});
    return it == volumes.end() ? 0 : it->second;
}

bool deliveryTracker::started(int pump, int trannum) const
{
    std::lock_guard<std::mutex> g(m);
    return volumes.count({pump, trannum}) != 0;
}

}  // namespace soak
