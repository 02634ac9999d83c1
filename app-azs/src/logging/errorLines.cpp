#include "errorLines.h"

namespace azs_apps {
namespace weblog {

void errorLines::add(std::string line)
{
    std::lock_guard<std::mutex> lock(m);
    lines.push_back(std::move(line));
    while (lines.size() > kept) lines.pop_front();
}

std::vector<std::string> errorLines::last() const
{
    std::lock_guard<std::mutex> lock(m);
    return std::vector<std::string>(lines.begin(), lines.end());
}

}  // namespace weblog
}  // namespace azs_apps
