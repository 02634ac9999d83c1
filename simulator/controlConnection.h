#pragma once
// One client of the control port, served by its own thread: it reads command lines one at a time,
// hands each to the handler and writes what the handler returns before it reads the next line.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "controlCommands.h"
#include "stopFlag.h"

namespace sim {

class controlConnection {
public:
    using handler = std::function<controlOutcome(controlSession&, const std::string&)>;

    // Lines longer than this without a line feed make the connection close: the real controller
    // has a bounded buffer too, and a runaway client must not eat the test's memory.
    static constexpr size_t maxLine = 64 * 1024;

    controlConnection(int fd, handler h, stopFlag& stop);
    ~controlConnection();  // shuts the socket down, joins the thread, closes the socket
    controlConnection(const controlConnection&) = delete;
    controlConnection& operator=(const controlConnection&) = delete;

    void shutdown();  // wakes the reader; the thread then ends
    bool finished() const { return done; }
    bool send(const std::string& text);

private:
    void run();
    bool serve(const std::string& line);  // false: close the connection

    int fd;
    handler onLine;
    stopFlag& stop;
    controlSession session;
    std::mutex writeMutex;
    std::atomic<bool> done{false};
    std::thread worker;
};

}  // namespace sim
