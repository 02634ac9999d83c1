#pragma once
// A station on the test bench around the real fuelweb program: the simulated controller, the
// platform stub and the monitor daemon's loop (in this process) publishing the pumps into a
// segment of the test's own, and fuelweb run as a child process on a configuration the test
// writes, with its state file in the test's directory. The child can be signalled, killed and
// started again.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fuelwebChild.h"
#include "monitor/processRunner.h"
#include "pcuMonitor.h"
#include "pcuSimulator.h"
#include "platformStub.h"
#include "stationRig.h"
#include "webTestSupport.h"

namespace webtest {

class FuelwebProcess : public ::testing::Test {
protected:
    static constexpr const char* APIKEY = "client,srv,azs";

    explicit FuelwebProcess(const sim::stationConfig& station = benchStation());

    tempDir dir;
    segmentView seg{dir.keyFile()};
    sim::pcuSimulator pcu;
    sim::platformStub platform;
    uint16_t port = 0;
    std::unique_ptr<fuelwebChild> fw;
    // The monitor daemon's loop, in this process: the pump table follows the simulated controller.
    std::unique_ptr<pumpFollower> follower;

    std::string configFile() const { return dir.path() + "/fuelweb.json"; }
    std::string stateFile() const { return dir.path() + "/state/state.db"; }

    void SetUp() override;
    void TearDown() override;

    // more: further "fuelweb" members, each starting with a comma.
    void writeConfig(const std::string& statePath, const std::string& more = "");
    void startService();

    httpReply order(const std::string& body);
    httpReply fueling(const std::string& body);
    // fuelwebctl on the state file.
    montest::processResult ctl(const std::vector<std::string>& args);
    // Lines the service logged at error level.
    std::vector<std::string> errorLines() const;
};

}  // namespace webtest
