// Start-up of the daemon: options, configuration, paths, and the hand-over to the monitor.
#include "pcuMonitorServer.h"

#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "configCheck.h"
#include "configFile.h"
#include "configKeys.h"
#include "fuelgateVersion.h"
#include "libLog.h"
#include "signalLog.h"
#include "systemdNotify.h"
#include "timeSource.h"

namespace pcudata {
namespace monitorServer {

const char* progname = "pcuMonitorServer";
std::string config_file;
std::string pidFile;
std::string pcuAddr;
uint16_t monPort = 0;
runner::whereLog ioLog = runner::out;
bool checkOnly = false;

namespace {

constexpr int OPT_PID = 'p';  // --pid has no short form: 'p' is not in the short option string
constexpr int OPT_VERSION = 'V';

// Under systemd's watchdog (WatchdogSec), the pings: WATCHDOG=1 from the monitor loop, at most
// four times per period. A loop that stops going round (every pass ends within the read budget)
// stops them, and systemd restarts the daemon.
int64_t watchdogEveryUs = 0;
int64_t lastPingUs = 0;

void pingWatchdog()
{
    if (watchdogEveryUs <= 0) return;
    const int64_t now = timeSrc().nowUs();
    if (now - lastPingUs < watchdogEveryUs) return;
    lastPingUs = now;
    systemdNotify::send("WATCHDOG=1");
}

// "-P" is a port: a decimal number that fits 16 bits. Anything else would connect elsewhere.
bool parsePort(const char* text, uint16_t& port)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < 0 || v > 65535) return false;
    port = static_cast<uint16_t>(v);
    return true;
}

void refreshPassHook()
{
    signalLog::refreshUtcOffset();
    pingWatchdog();
}

// Stop on SIGTERM or SIGINT. It runs on the loop's thread wherever the loop happens to be, possibly
// inside malloc or a stream, so it only does async-signal-safe work: the stop line goes out with
// one write(2), the monitor zeroes dataTime, closes its descriptor and detaches with plain stores
// and system calls, and the process ends with _exit. The pid file stays for the next start.
// While the monitor holds a pump's lock the stop waits until the lock is given back.
void stopHandler(int sig)
{
    pcuMonitor* mon = ptrMon;
    if (mon != nullptr && mon->deferStop(sig)) return;
    signalLog::writeLine(STDOUT_FILENO, "Остановка демона по сигналу : ", sig);
    if (mon != nullptr) mon->stopFromSignal();
    ::_exit(0);
}

// A daemon whose stop signal is not caught still ends, but leaves a live-looking dataTime behind
// for the readers; that is worth a line in the .err file, not a refusal to run.
void installStopSignals()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    installHandler(SIGTERM, stopHandler, &mask);
    installHandler(SIGINT, stopHandler, &mask);
    installHandler(SIGPIPE, SIG_IGN);  // a write to a closed socket must fail, not end the daemon
}

// The library's lines (segment, socket options): errors and warnings to the .err file, the rest to
// the .log file.
void daemonLine(libLog::level lvl, const std::string& text)
{
    if (lvl <= libLog::warning)
        errLine(text);
    else
        runner::log(text, lvl == libLog::debug ? runner::debug1 : runner::out);
}

int currentDir(std::string& cwd)
{
    char buf[4096];
    if (::getcwd(buf, sizeof buf) == nullptr) {
        const int e = errno;
        std::cerr << progname << " : Ошибка выполнения программы : error = " << e << " : " << std::strerror(e)
                  << std::endl;
        return e;
    }
    cwd = buf;
    return CONTINUE;
}

// The segment is attached before the daemon reports readiness: a daemon that can not publish the
// pumps must not count as started, and the starting command ends with its status 14.
int runMonitor(const settings& s)
{
    installStopSignals();
    pcuMonitor monitor;
    monitor.setIpcPath(s.keyFile);
    monitor.passHook = refreshPassHook;
    signalLog::cacheUtcOffset(timeSrc().now());
    ptrMon = &monitor;
    monitor.sock().setHost(s.host);
    monitor.sock().setPort(s.port);
    if (monitor.shmInit() != 0) {
        errLine("Ошибка подключения к SharedMemory");
        monitor.stop();
        monitor.shmStop();
        ptrMon = nullptr;
        return 14;
    }
    reportReady();
    watchdogEveryUs = systemdNotify::watchdogUs() / 4;
    systemdNotify::send("READY=1\nSTATUS=Таблица ТРК подключена: " + s.keyFile + "; контроллер " + s.host +
                        ":" + std::to_string(s.port));
    runner::log("Файл ключа разделяемой памяти: " + s.keyFile, ioLog);
    monitor.run();
}

}  // namespace

void setProgname(const char* argv0)
{
    if (argv0 == nullptr || *argv0 == '\0') return;
    const char* slash = std::strrchr(argv0, '/');
    progname = slash != nullptr ? slash + 1 : argv0;
}

void printUsage(std::ostream& os)
{
    os << progname << " [OPTIONS]" << std::endl;
    os << "Опции программы : " << std::endl;
    os << " -c,--config <filename>  Использовать файл конфигурации filename" << std::endl;
    os << "                         если не указан то используется файл config.js" << std::endl;
    os << "                         из текущего каталога" << std::endl;
    os << std::endl;
    os << " -p,--pid  <filename>    pid файл (полный путь до файла)" << std::endl;
    os << " -H,--host <host>        Подключаться к указанному серверу (по умолчанию localhost)" << std::endl;
    os << " -P,--port <portnum>     Использовать номер порта для сервера (по умолчанию 65521)" << std::endl;
    os << " -t,--check-config       Проверить файл конфигурации и выйти: каждый неизвестный ключ,"
       << std::endl;
    os << "                         значение не того типа или вне допустимого одной строкой;" << std::endl;
    os << "                         код 1, когда есть ошибки, иначе 0" << std::endl;
    os << "    --version            Показать версию и выйти" << std::endl;
    os << " -h,--help               Показать эту справочную информацию и выйти" << std::endl;
    os << std::endl;
}

int parseOptions(int argc, char* argv[])
{
    static const struct option longOptions[] = {{"config", required_argument, nullptr, 'c'},
                                                {"pid", required_argument, nullptr, OPT_PID},
                                                {"host", required_argument, nullptr, 'H'},
                                                {"port", required_argument, nullptr, 'P'},
                                                {"help", no_argument, nullptr, 'h'},
                                                {"check-config", no_argument, nullptr, 't'},
                                                {"version", no_argument, nullptr, OPT_VERSION},
                                                {nullptr, 0, nullptr, 0}};
    optind = 0;  // full rescan, so that the options can be parsed again
    checkOnly = false;
    int c = 0;
    while ((c = ::getopt_long(argc, argv, "c:H:P:ht", longOptions, nullptr)) != -1) {
        switch (c) {
            case 'c':
                config_file = optarg;
                break;
            case OPT_PID:
                pidFile = optarg;
                break;
            case 'H':
                pcuAddr = optarg;
                break;
            case 'P':
                if (!parsePort(optarg, monPort)) {
                    std::cerr << progname << ": invalid port number '" << optarg << "'" << std::endl;
                    printUsage(std::cerr);
                    return 1;
                }
                break;
            case 'h':
                printUsage(std::cout);
                return 0;
            case OPT_VERSION:
                std::cout << progname << " " << fuelgateVersionLine() << std::endl;
                return 0;
            case 't':
                checkOnly = true;
                break;
            default:
                printUsage(std::cerr);  // after getopt's complaint
                return 1;
        }
    }
    return CONTINUE;
}

int findConfigFile(const std::string& cwd)
{
    if (!config_file.empty()) {
        if (runner::FileExists(config_file)) return CONTINUE;
        std::cerr << "Файл конфигурации не задан" << std::endl;
        return 22;
    }
    const std::string local = cwd + "/config.js";
    if (!runner::FileExists(local)) {
        std::cerr << "Файл конфигурации не найден" << std::endl;
        return 2;
    }
    config_file = local;
    return CONTINUE;
}

int loadConfig(const std::string& file, settings& s)
{
    configFile cfg;
    std::string reason;
    switch (configFile::load(file, cfg, reason)) {
        case configFile::unreadable:
            std::cerr << "Не возможно открыть файл конфигурации: " << file << ": " << reason << std::endl;
            return CONTINUE;
        case configFile::notJson:
            std::cerr << "Ошибка загрузки файла конфигурации: " << file << ": " << reason << std::endl;
            return 5;
        case configFile::notObject:
            s.warnings.push_back("Файл конфигурации " + file + ": " + reason +
                                 ": взяты значения по умолчанию всех ключей");
            return CONTINUE;
        case configFile::ok:
            break;
    }
    const sharedConfig shared = sharedConfig::read(cfg);
    s.host = shared.ctlAddr;
    s.tmpPath = shared.tmpPath;
    s.port = cfg.getPort("fuelweb.mon_port", pcuMonitor::DEFAULT_PORT);
    s.runPath = cfg.getString("fuelweb.run_path", s.runPath);
    s.logPath = cfg.getString("fuelweb.log_path", s.logPath);
    s.warnings = cfg.newWarnings();
    for (const std::string& w : unknownKeyWarnings(cfg)) s.warnings.push_back(w);
    return CONTINUE;
}

int checkConfigFile(const std::string& file)
{
    configFile cfg;
    std::string reason;
    if (configFile::load(file, cfg, reason) != configFile::ok)
        return printCheck({{true, "", "файл конфигурации " + file + ": " + reason}}, file, std::cout);
    return printCheck(checkConfig(cfg, readByDaemon), file, std::cout);
}

void applyOptions(settings& s)
{
    if (!pcuAddr.empty()) s.host = pcuAddr;
    if (monPort != 0) s.port = monPort;
    derivePaths(s);
}

void derivePaths(settings& s)
{
    s.keyFile = shmKeyFile(s.tmpPath);
    s.logFile = s.logPath + "/" + progname + ".log";
    s.errFile = s.logPath + "/" + progname + ".err";
    s.pidPath = !pidFile.empty() ? pidFile : s.runPath + "/" + progname + ".pid";
}

// The daemon changes its directory to "/" when it detaches; a relative path from the command line
// or the configuration must keep meaning what it meant where the operator started it. The key file
// above all: resolved from "/" it would give another segment than the web service's.
void anchorPaths(settings& s, const std::string& cwd)
{
    for (std::string* path : {&s.keyFile, &s.logFile, &s.errFile, &s.pidPath}) {
        if (!path->empty() && (*path)[0] != '/') *path = cwd + "/" + *path;
    }
}

int serverMain(int argc, char* argv[])
{
    std::setlocale(LC_ALL, "C");
    std::setlocale(LC_CTYPE, "ru_RU.UTF-8");
    std::setlocale(LC_MESSAGES, "ru_RU.UTF-8");
    setProgname(argc > 0 ? argv[0] : nullptr);
    libLog::setSink(daemonLine);
    std::string cwd;
    int rc = currentDir(cwd);
    if (rc == CONTINUE) rc = parseOptions(argc, argv);
    if (rc == CONTINUE) rc = findConfigFile(cwd);
    if (rc == CONTINUE && checkOnly) return checkConfigFile(config_file);
    settings s;
    if (rc == CONTINUE) rc = loadConfig(config_file, s);
    if (rc != CONTINUE) return rc;
    applyOptions(s);
    anchorPaths(s, cwd);
    rc = detach(s.pidPath, s.logFile, s.errFile);
    if (rc != CONTINUE) return rc;
    for (const std::string& w : s.warnings) errLine(w);
    return runMonitor(s);
}

}  // namespace monitorServer
}  // namespace pcudata
