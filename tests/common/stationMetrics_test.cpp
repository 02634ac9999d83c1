// The Prometheus text of the station's counters: every family introduced by its HELP and TYPE,
// histogram buckets cumulative with their sum and count, label values escaped, and each counter
// moving by what was counted.
#include "stationMetrics.h"

#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "metricsText.h"

using testsupport::metricNow;
using testsupport::metricSample;

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

std::string familyOf(const std::string& sample)
{
    std::string name = sample.substr(0, sample.find_first_of("{ "));
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
        const std::string s = suffix;
        if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0 &&
            name.rfind("fuelgate_controller_command_seconds", 0) == 0)
            return name.substr(0, name.size() - s.size());
    }
    return name;
}

TEST(StationMetrics, EveryFamilyHasHelpAndTypeBeforeItsSamples)
{
    stationMetrics::controllerCommand(stationMetrics::commandSlot("PWORK"), 0.002, false);
    stationMetrics::gauges g;
    g.pumpsByStatus[3] = 4;
    const std::string text = stationMetrics::render(g);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');

    std::map<std::string, std::string> typeOf;
    std::set<std::string> helped;
    for (const std::string& l : lines(text)) {
        std::istringstream in(l);
        std::string hash, what, name, type;
        if (l.rfind("# HELP ", 0) == 0) {
            in >> hash >> what >> name;
            EXPECT_TRUE(helped.insert(name).second) << "two HELP lines for " << name;
        } else if (l.rfind("# TYPE ", 0) == 0) {
            in >> hash >> what >> name >> type;
            EXPECT_TRUE(helped.count(name)) << "TYPE before HELP: " << name;
            typeOf[name] = type;
        } else {
            EXPECT_TRUE(typeOf.count(familyOf(l))) << "sample without its TYPE: " << l;
        }
    }
    const std::map<std::string, std::string> expected = {
        {"fuelgate_orders_total", "counter"},
        {"fuelgate_notice_attempts_total", "counter"},
        {"fuelgate_controller_command_seconds", "histogram"},
        {"fuelgate_controller_failures_total", "counter"},
        {"fuelgate_http_requests_total", "counter"},
        {"fuelgate_log_lines_dropped_total", "counter"},
        {"fuelgate_notices_pending", "gauge"},
        {"fuelgate_notices_abandoned", "gauge"},
        {"fuelgate_notice_oldest_pending_seconds", "gauge"},
        {"fuelgate_controller_up", "gauge"},
        {"fuelgate_pump_table_age_seconds", "gauge"},
        {"fuelgate_pumps", "gauge"},
        {"fuelgate_watches", "gauge"},
        {"process_start_time_seconds", "gauge"},
        {"process_resident_memory_bytes", "gauge"},
        {"process_open_fds", "gauge"},
        {"process_threads", "gauge"},
        {"process_cpu_seconds_total", "counter"},
    };
    for (const auto& [name, type] : expected) EXPECT_EQ(typeOf[name], type) << name;
    // Every status code of the table shows, 0 when no pump has it, so its series never vanishes.
    EXPECT_EQ(metricSample(text, "fuelgate_pumps{status=\"3\"}"), 4);
    EXPECT_NE(text.find("fuelgate_pumps{status=\"-1\"} 0\n"), std::string::npos);
    EXPECT_NE(text.find("fuelgate_pumps{status=\"16\"} 0\n"), std::string::npos);
}

TEST(StationMetrics, HistogramBucketsAreCumulativeWithSumAndCount)
{
    const int slot = stationMetrics::commandSlot("TESTHIST");
    for (double s : {0.003, 0.02, 0.02, 7.0, 20.0}) stationMetrics::controllerCommand(slot, s, false);
    stationMetrics::controllerCommand(slot, 0.001, true);
    const std::string text = stationMetrics::render(stationMetrics::gauges());
    const std::string b = "fuelgate_controller_command_seconds_bucket{command=\"TESTHIST\",le=\"";
    const std::vector<std::pair<const char*, double>> buckets = {
        {"0.005", 2}, {"0.01", 2}, {"0.025", 4}, {"0.05", 4}, {"1", 4},
        {"2.5", 4},   {"5", 4},    {"10", 5},    {"+Inf", 6},
    };
    for (const auto& [le, n] : buckets) EXPECT_EQ(metricSample(text, b + le + "\"}"), n) << le;
    EXPECT_EQ(metricSample(text, "fuelgate_controller_command_seconds_count{command=\"TESTHIST\"}"), 6);
    EXPECT_NEAR(metricSample(text, "fuelgate_controller_command_seconds_sum{command=\"TESTHIST\"}"), 27.044,
                1e-9);
    EXPECT_EQ(metricSample(text, "fuelgate_controller_failures_total{command=\"TESTHIST\"}"), 1);
    // The buckets come in rising order of their bounds and never fall.
    double last = -1;
    for (const std::string& l : lines(text)) {
        if (l.rfind(b, 0) != 0) continue;
        const double v = std::stod(l.substr(l.rfind(' ') + 1));
        EXPECT_GE(v, last) << l;
        last = v;
    }
}

TEST(StationMetrics, LabelValuesAreEscaped)
{
    stationMetrics::httpRequest(stationMetrics::routeSlot("a\"b\\c\nd"), 200);
    const std::string text = stationMetrics::render(stationMetrics::gauges());
    EXPECT_EQ(metricSample(text, "fuelgate_http_requests_total{route=\"a\\\"b\\\\c\\nd\",code=\"200\"}"), 1)
        << text;
}

TEST(StationMetrics, CountersMoveByWhatWasCounted)
{
    const int route = stationMetrics::routeSlot("testroute");
    struct step {
        const char* what;
        std::function<void()> count;
        std::string series;
        double delta;
    };
    const std::vector<step> steps = {
        {"completed", [] { stationMetrics::orderCompleted(); },
         "fuelgate_orders_total{outcome=\"completed\"}", 1},
        {"refused", [] { stationMetrics::orderRefused(404); },
         "fuelgate_orders_total{outcome=\"refused_404\"}", 1},
        {"cancelled by text", [] { stationMetrics::orderCancelled("Отмена заказа по таймауту пуска ТРК"); },
         "fuelgate_orders_total{outcome=\"cancelled_timeout\"}", 1},
        {"notice answered", [] { stationMetrics::noticeAttempt("/volume", 503); },
         "fuelgate_notice_attempts_total{kind=\"volume\",code=\"503\"}", 1},
        {"notice unanswered", [] { stationMetrics::noticeAttempt("/completed", 0); },
         "fuelgate_notice_attempts_total{kind=\"completed\",code=\"error\"}", 1},
        {"request twice",
         [route] {
             stationMetrics::httpRequest(route, 401);
             stationMetrics::httpRequest(route, 401);
         },
         "fuelgate_http_requests_total{route=\"testroute\",code=\"401\"}", 2},
        {"unknown route", [] { stationMetrics::httpRequest(stationMetrics::otherRoute(), 404); },
         "fuelgate_http_requests_total{route=\"other\",code=\"404\"}", 1},
        {"log lines", [] { stationMetrics::logLinesDropped(3); }, "fuelgate_log_lines_dropped_total", 3},
    };
    for (const step& s : steps) {
        const double before = metricNow(s.series);
        s.count();
        EXPECT_EQ(metricNow(s.series) - before, s.delta) << s.what;
    }
}

TEST(StationMetrics, CancelReasonsFallIntoTheirClasses)
{
    using stationMetrics::cancelClass;
    const std::vector<std::pair<std::string, cancelClass>> cases = {
        {"Отмена заказа по таймауту пуска ТРК", cancelClass::timeout},
        {"Произошел сброс ТРК в исходное состояние", cancelClass::reset},
        {"Нулевой объем отпуска. (отмена заказа)", cancelClass::zeroVolume},
        {"Ошибка пуска ТРК", cancelClass::startFailed},
        {"Ошибка пуска ТРК (Нет связи с ТРК 1)", cancelClass::startFailed},
        {"Ошибка подключения к ТРК", cancelClass::startFailed},
        {"Нет связи с ТРК", cancelClass::link},
        {"Отмена оплаты заказа (занято)", cancelClass::payment},
        {"Отмена заказа (Не удалось провести оплату)", cancelClass::payment},
        {"Отмена заказа оператором АЗС", cancelClass::byOperator},
        {"Программная ошибка АЗС", cancelClass::other},
        {"", cancelClass::other},
    };
    for (const auto& [reason, expected] : cases)
        EXPECT_EQ(stationMetrics::cancelClassName(stationMetrics::classifyCancel(reason)),
                  std::string(stationMetrics::cancelClassName(expected)))
            << reason;
}

// A table of names has room for a fixed number: what comes beyond it counts under "other", so no
// label set grows without bound.
TEST(StationMetrics, NamesBeyondATablesRoomCountAsOther)
{
    int last = -1;
    for (int i = 0; i < 40; ++i) last = stationMetrics::routeSlot("overflow" + std::to_string(i));
    EXPECT_EQ(last, stationMetrics::otherRoute());
    EXPECT_EQ(stationMetrics::routeSlot("overflow39"), stationMetrics::otherRoute());
    EXPECT_NE(stationMetrics::routeSlot("overflow0"), stationMetrics::otherRoute());
}

TEST(StationMetrics, ProcessMetricsDescribeThisProcess)
{
    const std::string text = stationMetrics::render(stationMetrics::gauges());
    const double start = metricSample(text, "process_start_time_seconds");
    const double now = static_cast<double>(std::time(nullptr));
    EXPECT_LE(start, now + 1);
    EXPECT_GT(start, now - 3600) << "the test program started within the hour";
    EXPECT_GT(metricSample(text, "process_resident_memory_bytes"), 1e5);
    EXPECT_GE(metricSample(text, "process_threads"), 1);
    EXPECT_GE(metricSample(text, "process_open_fds"), 3);  // standard input, output and error
}

}  // namespace
