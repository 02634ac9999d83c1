#pragma once
// A listening TCP socket on the loopback address, plus the small socket helpers the simulator's
// servers share. Errors are errno numbers; nothing throws.
#include <string>

namespace sim {

class tcpListener {
public:
    tcpListener() = default;
    ~tcpListener() { close(); }
    tcpListener(const tcpListener&) = delete;
    tcpListener& operator=(const tcpListener&) = delete;

    // Binds 127.0.0.1:port (0 = a free port chosen by the system) and listens. 0 or an errno.
    int open(int port);
    void close();
    int fd() const { return sock; }
    int port() const { return boundPort; }
    // Accepts one pending connection: its descriptor, or -1.
    int accept();

private:
    int sock = -1;
    int boundPort = 0;
};

// Writes all of `data` (blocking); false when the peer is gone. Never raises SIGPIPE.
bool sendAll(int fd, const std::string& data);

}  // namespace sim
