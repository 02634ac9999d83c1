#pragma once
// The clients of the monitoring port. They only listen, so no thread reads from them: lines are
// pushed to every client, and a client whose socket cannot take a whole line at once (gone, or so
// slow that the kernel buffer is full) is dropped rather than allowed to stall the simulation.
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class monitorHub {
public:
    ~monitorHub() { closeAll(); }

    // Takes ownership of fd and sends it the initial lines.
    void add(int fd, const std::vector<std::string>& initial);
    void broadcast(const std::string& line);     // line without its line feed
    void broadcastRaw(const std::string& text);  // sent as is
    void closeAll();
    size_t clients() const;
    void setSilent(bool on);  // while silent nothing is sent, the connections stay open

private:
    void sendLocked(const std::string& text);

    mutable std::mutex m;
    std::vector<int> fds;
    bool silent = false;
};

}  // namespace sim
