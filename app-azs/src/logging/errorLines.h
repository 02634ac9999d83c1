#pragma once
// The last error lines of the service's log, kept in memory for the operator's page: the log file
// may be far away or rotated, and the page should say at a glance what went wrong lately. Lines
// are kept as the log writes them (time, level, source, text), the newest last.
//
// Only lines at error level and above come here, a few a minute at worst, so one mutex is cheap.
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace azs_apps {
namespace weblog {

class errorLines {
public:
    static constexpr size_t KEPT = 20;

    explicit errorLines(size_t kept = KEPT) : kept(kept) {}
    void add(std::string line);
    // Oldest first.
    std::vector<std::string> last() const;

private:
    size_t kept;
    mutable std::mutex m;
    std::deque<std::string> lines;
};

}  // namespace weblog
}  // namespace azs_apps
