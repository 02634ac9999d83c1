#include "commandFault.h"

namespace sim {

bool faultQueue::take(const std::string& cmd, commandFault& out)
{
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->cmd.empty() || it->cmd == cmd) {
            out = *it;
            faults.erase(it);
            return true;
        }
    }
    return false;
}

}  // namespace sim
