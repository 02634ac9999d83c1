// The station's counters over a scripted set of orders run through the whole station in this
// process: one completed (its completion refused once by the platform, then taken), one cancelled
// before the nozzle was lifted, one refused at /order. Counters are compared before and after, so
// whatever else the process counted does not matter.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "commandTimer.h"
#include "fuelingStation.h"
#include "metricsText.h"
#include "orderTestSupport.h"
#include "urlDispatcher.h"

using testsupport::metricSample;
using webtest::order;

namespace {

const std::vector<std::string> SERIES = {
    "fuelgate_orders_total{outcome=\"completed\"}",
    "fuelgate_orders_total{outcome=\"cancelled_reset\"}",
    "fuelgate_orders_total{outcome=\"refused_400\"}",
    "fuelgate_notice_attempts_total{kind=\"completed\",code=\"503\"}",
    "fuelgate_notice_attempts_total{kind=\"completed\",code=\"200\"}",
    "fuelgate_notice_attempts_total{kind=\"canceled\",code=\"200\"}",
    "fuelgate_notice_attempts_total{kind=\"completed\",code=\"error\"}",
    "fuelgate_http_requests_total{route=\"order\",code=\"400\"}",
    "fuelgate_http_requests_total{route=\"fueling\",code=\"200\"}",
    "fuelgate_http_requests_total{route=\"canceled\",code=\"200\"}",
    "fuelgate_controller_command_seconds_count{command=\"PSET\"}",
    "fuelgate_controller_command_seconds_count{command=\"STOP\"}",
    "fuelgate_controller_failures_total{command=\"PSET\"}",
};

std::map<std::string, double> scrape()
{
    const std::string text = stationMetrics::render(stationMetrics::gauges());
    std::map<std::string, double> out;
    for (const std::string& s : SERIES) out[s] = metricSample(text, s);
    return out;
}

class MetricsFlow : public webtest::FuelingStation {
protected:
    std::map<std::string, double> before;
    void SetUp() override
    {
        start();
        before = scrape();
    }
    double delta(const std::string& series) { return scrape()[series] - before[series]; }
    // The counts of a notice land once its sender has the answer, a moment after the stub saw it.
    bool deltaReaches(const std::string& series, double n)
    {
        return waitFor([&] { return delta(series) >= n; }, WAIT_MS);
    }
};

TEST_F(MetricsFlow, CountersMoveByTheOrdersRun)
{
    // Completed, the platform refusing the first completion.
    platform.setStatus("/completed", 503);
    platform.setListener([this](const sim::platformRequest& r) {
        if (r.path == "/completed") platform.setStatus("/completed", 200);
    });
    order done;
    done.id = "M-done";
    placeOrder(done);
    ASSERT_EQ(fueling(done).status, 200);
    fillUp(done);
    ASSERT_TRUE(deltaReaches(SERIES[4], 1)) << "the completion taken at the second attempt";

    // Cancelled while the pump waits for the nozzle: it goes back to idle.
    order stopped;
    stopped.id = "M-stopped";
    stopped.trk = 2;
    pcu.setNeverLift(2, true);
    placeOrder(stopped);
    ASSERT_EQ(fueling(stopped).status, 200);
    ASSERT_TRUE(waitStatus(2, 6));
    ASSERT_EQ(cancel(stopped.apikey(), stopped.id).status, 200);
    ASSERT_EQ(finals(stopped.id).size(), 1u);
    ASSERT_TRUE(deltaReaches(SERIES[5], 1));

    // Refused at /order: no such pump.
    EXPECT_EQ(
        post("/order", ordertest::orderBody({{"id", "\"M-refused\""}, {"trk", "99"}}), done.apikey()).status,
        400);

    const std::vector<std::pair<std::string, double>> expected = {
        {SERIES[0], 1},
        {SERIES[1], 1},
        {SERIES[2], 1},
        {SERIES[3], 1},
        {SERIES[4], 1},
        {SERIES[5], 1},
        {SERIES[6], 0},
        {SERIES[7], 1},
        {SERIES[8], 2},
        {SERIES[9], 1},
        {SERIES[10], 2},  // each pump
                          // started once
        {SERIES[12], 0},
    };
    for (const auto& [series, n] : expected) EXPECT_EQ(delta(series), n) << series;
    EXPECT_GE(delta(SERIES[11]), 1) << "the cancelled pump was stopped";
}

// The labels come from the route patterns and the command lines: bounded, and readable.
TEST(MetricsLabels, RouteAndCommandNames)
{
    const std::vector<std::pair<std::string, std::string>> routes = {
        {"^/ping(/?)$", "ping"},
        {"^/callback/prices(/?)$", "callback/prices"},
        {"^/bench/const$", "bench/const"},
        {"", "root"},
    };
    for (const auto& [pattern, name] : routes) EXPECT_EQ(azs_apps::urlDispatcher::routeName(pattern), name);
    const std::vector<std::pair<std::string, std::string>> commands = {
        {"@!PWORK;NUM=1;TYP=0;\n", "PWORK"},
        {"@!ACFG\n", "ACFG"},
        {"@!TSTBD;NUM=3\n", "TSTBD"},
        {"PWORK;NUM=1;", ""},
    };
    for (const auto& [line, name] : commands) EXPECT_EQ(pcudata::commandTimer::nameOf(line), name) << line;
}

}  // namespace
