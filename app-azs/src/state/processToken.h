#pragma once
// Who holds a claim on a stored notice: a process, named by its pid and its start time (the pid
// alone may be given to another process after a crash). A claim whose process is gone is void.
#include <string>

namespace azs_apps {
namespace state {
namespace processToken {

// "pid:start" of this process.
std::string self();
// "pid:start" of another process, or empty when there is no such process.
std::string of(int pid);
// True while the process that made the token runs.
bool alive(const std::string& token);

}  // namespace processToken
}  // namespace state
}  // namespace azs_apps
