#pragma once
// nginx run by a test as a second reader of the same raw requests: its own configuration in a
// temporary directory (pid, logs and temporary files there), one process in the foreground on a
// free loopback port, answering 200 to every request it accepts once it has read all of it.
// Stopped with the object.
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace webtest {

class nginxPeer {
public:
    // The nginx program on PATH or in /usr/sbin; empty when there is none.
    static std::string program();

    explicit nginxPeer(const std::string& program);
    ~nginxPeer();
    nginxPeer(const nginxPeer&) = delete;
    nginxPeer& operator=(const nginxPeer&) = delete;

    // True once nginx answers on its port; otherwise error() says why.
    bool started() const { return listening; }
    uint16_t port() const { return listenPort; }
    std::string error() const;

private:
    std::string dir;
    pid_t pid = -1;
    uint16_t listenPort = 0;
    bool listening = false;

    void writeConfig() const;
};

}  // namespace webtest
