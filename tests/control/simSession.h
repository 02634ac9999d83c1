#pragma once
// A controller session on a fresh simulator, with compressed time and captured logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logCapture.h"
#include "pcuControl.h"
#include "pcuSimulator.h"
#include "timeSource.h"

namespace ctltest {

// Compressed time that also remembers every nominal pause it was asked for.
class recordingTime : public pcudata::scaledTimeSource {
public:
    explicit recordingTime(double factor) : scaledTimeSource(factor) {}
    void sleepUs(int64_t us) override
    {
        {
            std::lock_guard<std::mutex> g(mu);
            pauses.push_back(us);
        }
        scaledTimeSource::sleepUs(us);
    }
    long count(int64_t us)
    {
        std::lock_guard<std::mutex> g(mu);
        return std::count(pauses.begin(), pauses.end(), us);
    }

private:
    std::mutex mu;
    std::vector<int64_t> pauses;
};

class SimSession : public ::testing::Test {
protected:
    // 100: the 10 s read budget is 100 ms real, enough for the simulator on a loaded machine.
    recordingTime clock{100};
    pcudata::timeSourceGuard guard{&clock};
    logCapture logs;
    sim::pcuSimulator pcu{station()};
    std::unique_ptr<pcudata::pcuControl> ctl;
    pcudata::cntlMsgResult res;
    int err = -99;
    const std::string order = "A-1";

    static sim::stationConfig station()
    {
        sim::stationConfig cfg = sim::defaultStation();
        cfg.tickMs = 2;
        cfg.repeatMs = 0;
        cfg.autoDriverTicks = 0;
        return cfg;
    }

    void SetUp() override
    {
        ASSERT_EQ(pcu.start(), 0);
        ctl = std::make_unique<pcudata::pcuControl>("127.0.0.1", pcu.ctlPort());
        ASSERT_TRUE(ctl->isConnected());
        pcudata::cmdMsgResult_clear(res);
    }

    std::vector<std::string> lines() const { return pcu.receivedControlLines(); }
    std::string lastLine() const
    {
        const std::vector<std::string> l = lines();
        return l.empty() ? std::string() : l.back();
    }
};

}  // namespace ctltest
