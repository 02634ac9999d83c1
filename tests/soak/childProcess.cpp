#include "childProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace soak {

namespace {

int decodeStatus(int st)
{
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// Exit status of pid once it has ended, -1 when it still runs after timeoutMs.
int reap(pid_t pid, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int st = 0;
        const pid_t r = ::waitpid(pid, &st, WNOHANG);
        if (r == pid) return decodeStatus(st);
        if (r < 0) return 0;  // not ours (any more): nothing to wait for
        if (std::chrono::steady_clock::now() > end) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

pid_t spawn(const std::vector<std::string>& args, const std::string& outFile)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

}  // namespace

bool adoptDetachedChildren()
{
    return ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
}

// --- childProcess ---------------------------------------------------------------------------------

childProcess::childProcess(std::vector<std::string> args, std::string out)
    : argv(std::move(args)), outFile(std::move(out))
{
}

childProcess::~childProcess()
{
    kill();
}

bool childProcess::start()
{
    pid_ = spawn(argv, outFile);
    return pid_ > 0;
}

void childProcess::signal(int sig) const
{
    if (pid_ > 0) ::kill(pid_, sig);
}

int childProcess::waitExit(int timeoutMs)
{
    if (pid_ <= 0) return 0;
    const int st = reap(pid_, timeoutMs);
    if (st >= 0) pid_ = -1;
    return st;
}

void childProcess::kill()
{
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    waitExit(10000);
}

// --- daemonProcess --------------------------------------------------------------------------------

daemonProcess::daemonProcess(std::string bin, std::string config, std::string pid, std::string out)
    : binary(std::move(bin)), configFile(std::move(config)), pidFile(std::move(pid)), outFile(std::move(out))
{
}

daemonProcess::~daemonProcess()
{
    if (pid_ > 0) stop(SIGTERM);
}

bool daemonProcess::start(std::string& error)
{
    // A daemon killed outright leaves its pid file; its number may belong to another process by now.
    ::unlink(pidFile.c_str());
    const pid_t starter = spawn({binary, "--config", configFile}, outFile);
    if (starter <= 0) {
        error = "the daemon can't be run: " + binary;
        return false;
    }
    const int st = reap(starter, 20000);
    if (st != 0) {
        if (st < 0) {
            ::kill(starter, SIGKILL);
            reap(starter, 5000);
        }
        error = "the daemon's starting command ended with " + std::to_string(st);
        return false;
    }
    std::ifstream in(pidFile);
    long pid = 0;
    in >> pid;
    if (pid <= 1 || ::kill(static_cast<pid_t>(pid), 0) != 0) {
        error = "the daemon's pid file names no running process";
        return false;
    }
    pid_ = static_cast<pid_t>(pid);
    return true;
}

int daemonProcess::ended()
{
    if (pid_ <= 0) return -1;
    const int st = reap(pid_, 0);
    if (st >= 0) pid_ = -1;
    return st;
}

void daemonProcess::stop(int sig, int timeoutMs)
{
    if (pid_ <= 0) return;
    ::kill(pid_, sig);
    if (reap(pid_, timeoutMs) < 0) {
        ::kill(pid_, SIGKILL);
        reap(pid_, 5000);
    }
    pid_ = -1;
}

}  // namespace soak
