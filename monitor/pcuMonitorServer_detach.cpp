// Detaching from the starter.
//
// The starter forks and waits (at most 2 s) for the daemon child to report that it runs: new
// session, log files, shared segment attached. Only then does it write the pid file and end with
// status 0, so whoever started the daemon learns from the exit status whether it really runs.
// SIGCHLD tells the starter that the child died first (the starter then ends with the child's own
// status), SIGALRM that it never answered. Until the child reports, its error lines also go to the
// starter's standard error, so the reason of a failed start reaches the terminal that asked for it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "libLog.h"
#include "pcuMonitorServer.h"
#include "signalLog.h"

namespace pcudata {
namespace monitorServer {

std::string lock_path;
pid_t pid_daemon = 0;
pcuMonitor* volatile ptrMon = nullptr;

namespace {

constexpr unsigned HANDSHAKE_SEC = 2;
constexpr mode_t PID_FILE_MODE = 0640;

// Signal handlers read these; they are set before the handlers can run.
volatile sig_atomic_t inDaemon = 0;
volatile sig_atomic_t handshakeSignal = 0;
char lockPathBuf[PATH_MAX] = {};

// In the daemon until it reports readiness: the starting process, its standard error, and the
// signal mask to restore.
pid_t starterPid = 0;
int starterErr = -1;
sigset_t daemonMask;

std::string codeText(int e)
{
    return std::to_string(e) + " (" + std::strerror(e) + ")";
}

// Writes the decimal pid into path; 1 when the file could not be created, 2 when the pid could
// not be written completely (errno tells why), 0 on success. Signal-safe.
int writePidFile(const char* path, pid_t pid)
{
    char text[16];
    int len = 0;
    unsigned v = static_cast<unsigned>(pid);
    char rev[16];
    do {
        rev[len++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (int i = 0; i < len; ++i) text[i] = rev[len - 1 - i];
    const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC, PID_FILE_MODE);
    if (fd < 0) return 1;
    const ssize_t n = ::write(fd, text, static_cast<size_t>(len));
    const int e = errno;
    ::close(fd);
    errno = e;
    return n == len ? 0 : 2;
}

void writeStderr(const char* text)
{
    (void)!::write(STDERR_FILENO, text, std::strlen(text));
}

// The starter only records the first signal and leaves the work to its main line. In the daemon
// the handler stays installed: SIGUSR1 rewrites the pid file with the daemon's own pid and ends
// it, SIGALRM ends it with status 1. Both leave the segment the way a stop does (dataTime 0,
// detached), since readers would otherwise take a dead daemon for a live one. Like a stop, they
// wait until the monitor gives back a pump lock that it holds.
void handshakeHandler(int sig)
{
    if (inDaemon == 0) {
        if (handshakeSignal == 0 || sig == SIGUSR1) handshakeSignal = sig;  // readiness wins
        return;
    }
    pcuMonitor* mon = ptrMon;
    if (mon != nullptr && (sig == SIGUSR1 || sig == SIGALRM) && mon->deferStop(sig)) return;
    if (sig == SIGUSR1) {
        writePidFile(lockPathBuf, ::getpid());
        if (mon != nullptr) mon->stopFromSignal();
        ::_exit(0);
    }
    if (sig == SIGALRM) {
        writeStderr("SIGALRM with child (14)\n");
        if (mon != nullptr) mon->stopFromSignal();
        ::_exit(1);
    }
}

bool installHandshake()
{
    // Each handler blocks the other two: a daemon that signals readiness and dies at once leaves
    // SIGUSR1 and SIGCHLD pending together, and without the mask the kernel would stack both
    // handlers so that SIGCHLD ran first and hid the handshake.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGUSR1);
    sigaddset(&mask, SIGALRM);
    sigaddset(&mask, SIGCHLD);
    return installHandler(SIGUSR1, handshakeHandler, &mask) &&
           installHandler(SIGALRM, handshakeHandler, &mask) &&
           installHandler(SIGCHLD, handshakeHandler, &mask, SA_NOCLDSTOP);
}

bool isRunning(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Detach step 2: refuse to start beside a live instance, forget a stale pid file.
int checkPidFile(const std::string& pidPath)
{
    const pid_t pid = readPidFile(pidPath);
    if (pid > 0 && isRunning(pid)) {
        std::cerr << "Уже существует запущенный экземпляр демона с процессом " << pid << std::endl;
        return 1;
    }
    ::unlink(pidPath.c_str());
    return CONTINUE;
}

// The exit status of a child that died before the handshake (14: no segment), or 1 when it gave
// none (killed by a signal, or ended with 0).
int childStatus()
{
    int st = 0;
    pid_t got = 0;
    while ((got = ::waitpid(pid_daemon, &st, 0)) < 0 && errno == EINTR) {
    }
    if (got == pid_daemon && WIFEXITED(st) && WEXITSTATUS(st) != 0) return WEXITSTATUS(st);
    return 1;
}

int starterOutcome()
{
    if (handshakeSignal == SIGUSR1) {
        const int rc = writePidFile(lock_path.c_str(), pid_daemon);
        const int e = errno;
        if (rc == 1) {
            std::cerr << "unable to create lock file " << lock_path << ", code= " << codeText(e) << std::endl;
            return 1;
        }
        if (rc == 2)
            std::cerr << "unable to write pid to lock file " << lock_path << ", code=" << codeText(e)
                      << std::endl;
        return 0;
    }
    const char* name = handshakeSignal == SIGALRM ? "SIGALRM" : "SIGCHLD";
    std::cerr << name << " with child (" << handshakeSignal << ")" << std::endl;
    return handshakeSignal == SIGCHLD ? childStatus() : 1;
}

// The starter waits with the three signals unblocked only inside sigsuspend, so a handshake that
// arrives before the wait begins is not lost.
int awaitHandshake(const sigset_t& waitMask)
{
    ::alarm(HANDSHAKE_SEC);
    while (handshakeSignal == 0) ::sigsuspend(&waitMask);
    ::alarm(0);
    return starterOutcome();
}

void reopen(const std::string& path, const char* mode, FILE* stream, const char* failText,
            const char* nullFailText)
{
    const bool toNull = path.empty();
    if (std::freopen(toNull ? "/dev/null" : path.c_str(), mode, stream) == nullptr) {
        const int e = errno;
        std::cerr << (toNull ? nullFailText : failText) << codeText(e) << std::endl;
    }
}

void redirectStreams(const std::string& logPath, const std::string& errPath)
{
    if (std::freopen("/dev/null", "r", stdin) == nullptr) {
        const int e = errno;
        std::cerr << "Ошибка перенаправления стандартного ввода, code=" << codeText(e) << std::endl;
    }
    reopen(logPath, logPath.empty() ? "w" : "a+", stdout,
           "Ошибка перенаправления стандартного вывода, code=", "Ошибка закрытия стандартного вывода, code=");
    reopen(errPath, errPath.empty() ? "w" : "a+", stderr,
           "Ошибка перенаправления потока ошибок, code=", "Ошибка закрытия потока ошибок, code=");
}

// Detach steps 5 and 6 in the child. CONTINUE, or 1 when the new session or "/" fails. The
// readiness report waits for reportReady.
int becomeDaemon(const std::string& logPath, const std::string& errPath, const sigset_t& oldMask)
{
    inDaemon = 1;
    starterPid = ::getppid();
    pid_daemon = ::getpid();
    daemonMask = oldMask;
    installHandler(SIGCHLD, SIG_DFL);
    for (int sig : {SIGTSTP, SIGTTOU, SIGTTIN, SIGHUP}) installHandler(sig, SIG_IGN);
    ::umask(0);
    if (::setsid() < 0) {
        const int e = errno;
        std::cerr << "Невозможно создать новую сессию, завершение работы, code=" << codeText(e) << std::endl;
        return 1;
    }
    if (::chdir("/") < 0) {
        const int e = errno;
        std::cerr << "Невозможно сменить директорию на /, завершение работы, code=" << codeText(e)
                  << std::endl;
        return 1;
    }
    starterErr = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    redirectStreams(logPath, errPath);
    return CONTINUE;
}

}  // namespace

pid_t readPidFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    char text[11];
    const ssize_t n = ::read(fd, text, 10);
    ::close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(text, &end, 10);
    if (end == text || errno != 0 || pid <= 0 || pid > INT_MAX) return 0;
    return static_cast<pid_t>(pid);
}

int detach(const std::string& pidPath, const std::string& logPath, const std::string& errPath)
{
    if (::getppid() == 1) return CONTINUE;  // started by the service manager: stay in the foreground
    int rc = checkPidFile(pidPath);
    if (rc != CONTINUE) return rc;

    lock_path = pidPath;
    std::strncpy(lockPathBuf, pidPath.c_str(), sizeof lockPathBuf - 1);
    sigset_t handshake, oldMask;
    sigemptyset(&handshake);
    sigaddset(&handshake, SIGUSR1);
    sigaddset(&handshake, SIGALRM);
    sigaddset(&handshake, SIGCHLD);
    ::sigprocmask(SIG_BLOCK, &handshake, &oldMask);
    // Without its handlers the starter would be ended by the daemon's SIGUSR1 instead of
    // reporting the start.
    if (!installHandshake()) return 1;
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);  // nothing buffered may be written twice after the fork

    const pid_t pid = ::fork();
    if (pid < 0) {
        const int e = errno;
        std::cerr << "Ошибка запуска дочернего процесса, завершение работы, code=" << codeText(e)
                  << std::endl;
        return 1;
    }
    if (pid == 0) return becomeDaemon(logPath, errPath, oldMask);

    pid_daemon = pid;
    sigset_t waitMask = oldMask;
    sigdelset(&waitMask, SIGUSR1);
    sigdelset(&waitMask, SIGALRM);
    sigdelset(&waitMask, SIGCHLD);
    return awaitHandshake(waitMask);
}

void reportReady()
{
    if (starterPid <= 0) return;
    runner::log("Демон инициализирован с PID=" + std::to_string(pid_daemon), ioLog);
    ::sigprocmask(SIG_SETMASK, &daemonMask, nullptr);
    if (::kill(starterPid, SIGUSR1) != 0) {
        const int e = errno;
        errLine("Не удалось сообщить о готовности запускающему процессу " + std::to_string(starterPid) +
                ": " + errnoText(e));
    }
    starterPid = 0;
    if (starterErr >= 0) ::close(starterErr);
    starterErr = -1;
}

void errLine(const std::string& text)
{
    runner::log(text, runner::err);
    if (starterErr < 0 || text.empty()) return;
    const std::string line = text + "\n";
    (void)!::write(starterErr, line.data(), line.size());
}

bool installHandler(int sig, void (*handler)(int), const sigset_t* mask, int flags)
{
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sa.sa_flags = flags;
    if (mask != nullptr)
        sa.sa_mask = *mask;
    else
        sigemptyset(&sa.sa_mask);
    if (::sigaction(sig, &sa, nullptr) == 0) return true;
    const int e = errno;
    const char* abbrev = ::sigabbrev_np(sig);
    const std::string name = abbrev != nullptr ? std::string("SIG") + abbrev : std::to_string(sig);
    errLine("Не удалось установить обработчик сигнала " + name + ": " + errnoText(e));
    return false;
}

}  // namespace monitorServer
}  // namespace pcudata
