#pragma once
// Reading the Prometheus text of stationMetrics::render() in tests: a sample's value by its full
// series name as it is written ("fuelgate_orders_total{outcome=\"completed\"}").
#include <cstdlib>
#include <sstream>
#include <string>

#include "stationMetrics.h"

namespace testsupport {

// The value of the series in the text; 0 when the text has no such sample (a counter not yet
// counted is left out).
inline double metricSample(const std::string& text, const std::string& series)
{
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, series.size(), series) == 0 && line.size() > series.size() &&
            line[series.size()] == ' ')
            return std::strtod(line.c_str() + series.size() + 1, nullptr);
    return 0;
}

inline double metricNow(const std::string& series)
{
    return metricSample(stationMetrics::render(stationMetrics::gauges()), series);
}

}  // namespace testsupport
