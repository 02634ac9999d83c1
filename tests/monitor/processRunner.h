#pragma once
// Runs a program as a child process and collects its exit status and both output streams.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testSupport.h"

namespace montest {

struct processResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

inline std::string binDir()
{
    const char* dir = std::getenv("FUELGATE_BIN_DIR");
    return dir != nullptr ? dir : ".";
}

inline std::string daemonBinary()
{
    return binDir() + "/monitor/pcuMonitorServer";
}

inline int decodeStatus(int st)
{
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// Output is read until both streams close: a detached daemon closes them when it redirects its
// own streams to its log files.
inline processResult runProcess(const std::vector<std::string>& args, const std::string& cwd = "/tmp")
{
    processResult r;
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return r;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0 && ::poll(fds, 2, 5000) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
                continue;
            }
            ::close(fds[i].fd);
            fds[i].fd = -1;
            --open;
        }
    }
    for (pollfd& p : fds)
        if (p.fd >= 0) ::close(p.fd);
    int st = 0;
    if (::waitpid(pid, &st, 0) == pid) r.status = decodeStatus(st);
    return r;
}

using testsupport::readFile;

inline void writeFile(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    (void)!::write(fd, text.data(), text.size());
    ::close(fd);
}

// A private directory under /tmp, removed with its files.
class tempDir {
public:
    tempDir()
    {
        char name[] = "/tmp/montest_dirXXXXXX";
        if (::mkdtemp(name) != nullptr) path = name;
    }
    ~tempDir()
    {
        if (!path.empty()) (void)!std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

}  // namespace montest
