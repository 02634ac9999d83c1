#include "processToken.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

namespace azs_apps {
namespace state {
namespace processToken {

namespace {

// Field 22 of /proc/<pid>/stat: the process's start in clock ticks after boot. The command name
// (field 2) may hold blanks and parentheses, so the count starts after its last ")".
std::string startTicks(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return "";
    size_t close = line.rfind(')');
    if (close == std::string::npos) return "";
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        if (!(rest >> field)) return "";
    return field;
}

}  // namespace

std::string self()
{
    static const std::string token = of(static_cast<int>(::getpid()));
    return token;
}

std::string of(int pid)
{
    std::string start = startTicks(pid);
    return start.empty() ? "" : std::to_string(pid) + ":" + start;
}

bool alive(const std::string& token)
{
    size_t colon = token.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    int pid = 0;
    try {
        pid = std::stoi(token.substr(0, colon));
    } catch (...) {
        return false;
    }
    return pid > 0 && of(pid) == token;
}

}  // namespace processToken
}  // namespace state
}  // namespace azs_apps
