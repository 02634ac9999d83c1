#include "fuelwebChild.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "testSupport.h"
#include "webTestSupport.h"

extern char** environ;

namespace webtest {

using testsupport::waitFor;

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
    return n;
}

fuelwebChild::fuelwebChild(std::string configFile, std::string logFile, std::string errFile)
    : config(std::move(configFile)), logFile(std::move(logFile)), errFile(std::move(errFile))
{
}

fuelwebChild::~fuelwebChild()
{
    kill();
}

bool fuelwebChild::start()
{
    const char* binDir = std::getenv("FUELGATE_BIN_DIR");
    if (binDir == nullptr) return false;
    std::string bin = std::string(binDir) + "/app-azs/src/fuelweb";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    std::string c = "-c";
    char* argv[] = {bin.data(), c.data(), config.data(), nullptr};
    int rc = posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid = -1;
    return rc == 0;
}

void fuelwebChild::signal(int sig)
{
    if (pid > 0) ::kill(pid, sig);
}

void fuelwebChild::kill()
{
    if (pid <= 0) return;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

int fuelwebChild::waitExit(int timeoutMs)
{
    int result = -1;
    waitFor(
        [&] {
            int status = 0;
            if (pid <= 0 || ::waitpid(pid, &status, WNOHANG) != pid) return false;
            pid = -1;
            result = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        },
        timeoutMs, 10);
    return result;
}

bool fuelwebChild::waitForLog(const std::string& text, size_t count, int timeoutMs) const
{
    return waitFor([&] { return countOf(log(), text) >= count; }, timeoutMs, 10);
}

bool fuelwebChild::waitListening(uint16_t port, int timeoutMs) const
{
    return waitFor(
        [&] {
            try {
                httpGet(port, "/api/fuelweb");
                return true;
            } catch (...) {
                return false;
            }
        },
        timeoutMs, 10);
}

std::string fuelwebChild::log() const
{
    return testsupport::readFile(logFile);
}

std::string fuelwebChild::errors() const
{
    return testsupport::readFile(errFile);
}

}  // namespace webtest
