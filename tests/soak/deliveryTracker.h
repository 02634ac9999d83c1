#pragma once
// What the simulated controller delivered for each transaction: a thread reads every pump every
// couple of milliseconds and keeps, per pump and transaction, the volume the pump shows while that
// transaction is running or waits for settlement. A pump that goes back to idle keeps showing the
// last figures, and a reservation shows a new transaction with the old volume, so those states are
// not read.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "pcuSimulator.h"

namespace soak {

class deliveryTracker {
public:
    deliveryTracker(sim::pcuSimulator& pcu, std::vector<int> pumps);
    ~deliveryTracker();
    deliveryTracker(const deliveryTracker&) = delete;
    deliveryTracker& operator=(const deliveryTracker&) = delete;

    // Millilitres delivered for the transaction on the pump; 0 when it never ran.
    int64_t delivered(int pump, int trannum) const;
    // True when the transaction was ever started on the pump (preset given).
    bool started(int pump, int trannum) const;

private:
    void readAll();

    sim::pcuSimulator& pcu;
    std::vector<int> pumps;
    mutable std::mutex m;
    std::map<std::pair<int, int>, int64_t> volumes;
    std::atomic<bool> stopping{false};
    std::thread reader;
};

}  // namespace soak
