#pragma once
// What the tests of /station and /callback share: a service with the keys "srv" (server) and "azs"
// (station) that reaches a simulated controller and the platform stub, and a clock whose pauses
// are short and recorded.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "pcuSimulator.h"
#include "platformStub.h"
#include "testSupport.h"
#include "timeSource.h"
#include "webTestSupport.h"

namespace stationtest {

// Real clock and real read budgets (the simulator answers at its own pace on a loaded machine);
// pauses last a hundredth of their nominal length.
class shortPauses : public pcudata::timeSource {
public:
    void sleepUs(int64_t us) override
    {
        {
            std::lock_guard<std::mutex> l(m);
            pauses.push_back(us);
        }
        timeSource::sleepUs(us / 100);
    }
    long count(int64_t us)
    {
        std::lock_guard<std::mutex> l(m);
        return std::count(pauses.begin(), pauses.end(), us);
    }

private:
    std::mutex m;
    std::vector<int64_t> pauses;
};

// Dates are the time of the request: replaced by "D" for exact comparisons.
inline std::string withoutDate(const std::string& doc)
{
    static const std::regex date("\"Date\":\"[0-9]{14}\"");
    return std::regex_replace(doc, date, "\"Date\":\"D\"");
}

// The price document of sim::defaultStation() for the station key "azs".
const std::string DEFAULT_PRICES =
    "[{\"Date\":\"D\",\"Id\":\"azs\",\"Price\":52.5,\"ProdName\":\"АИ-92\",\"Product\":92},"
    "{\"Date\":\"D\",\"Id\":\"azs\",\"Price\":56.9,\"ProdName\":\"АИ-95\",\"Product\":95},"
    "{\"Date\":\"D\",\"Id\":\"azs\",\"Price\":61.2,\"ProdName\":\"ДТ\",\"Product\":20}]";

class stationService : public ::testing::Test {
protected:
    shortPauses clock;
    pcudata::timeSourceGuard guard{&clock};
    webtest::logCapture logs;
    sim::pcuSimulator pcu;
    sim::platformStub platform;
    std::unique_ptr<webtest::runningService> svc;

    void SetUp() override
    {
        ASSERT_EQ(pcu.start(), 0);
        ASSERT_EQ(platform.start(), 0);
    }
    void TearDown() override { svc.reset(); }

    // members: further "fuelweb" keys; a later key replaces an earlier one.
    void startService(const std::string& members = "")
    {
        std::string m =
            "\"upstream_key\":\"srv\",\"ctl_key\":\"azs\",\"tmp_path\":\"/nonexistent\",\"ctl_port\":" +
            std::to_string(pcu.ctlPort()) + ",\"upstream_endpoint\":\"" + platform.baseUrl() + "\"";
        svc = std::make_unique<webtest::runningService>(
            webtest::configWith(members.empty() ? m : m + "," + members));
    }

    webtest::httpReply get(const std::string& path, const std::string& apikey = "srv,azs")
    {
        return webtest::httpGet(svc->port(), "/api/fuelweb" + path + "?apikey=" + apikey);
    }

    bool waitForLog(const std::string& source, int prio, const std::string& text)
    {
        return testsupport::waitFor([&] { return logs.has(source, prio, text); });
    }
};

}  // namespace stationtest
