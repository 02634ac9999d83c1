#include "commandTimer.h"

#include "stationMetrics.h"

namespace pcudata {

commandTimer::commandTimer(const std::string& line)
    : slot(stationMetrics::commandSlot(nameOf(line).c_str())), start(std::chrono::steady_clock::now())
{
}

void commandTimer::done(int result)
{
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    stationMetrics::controllerCommand(slot, took.count(), result < 0);
}

std::string commandTimer::nameOf(const std::string& line)
{
    if (line.compare(0, 2, "@!") != 0) return std::string();
    const size_t end = line.find_first_of(";\r\n", 2);
    return line.substr(2, end == std::string::npos ? std::string::npos : end - 2);
}

}  // namespace pcudata
