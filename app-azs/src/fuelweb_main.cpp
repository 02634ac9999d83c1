// Entry of the web service: runs service cycles until a stop signal, a new cycle (with the
// configuration read afresh) after each SIGHUP.
//
// Signals are taken in one place. main blocks SIGHUP, SIGINT, SIGTERM and SIGPIPE before any other
// thread exists, so every thread inherits the mask, and one dedicated thread takes them with
// sigwait. That thread may log and talk to the live service freely, which a signal handler could
// not do safely.
//
// Under systemd (Type=notify) the process tells the service manager READY=1 once a cycle listens
// and has taken over the orders a former process left, RELOADING=1 at a SIGHUP (READY=1 again when
// the new cycle listens), STOPPING=1 at a stop, a STATUS= line with the pumps and the orders, and
// WATCHDOG=1 while the threads on the heartbeat board go on (see heartbeat.h, watchdogPinger.h).
#include <curl/curl.h>
#include <pthread.h>
#include <signal.h>

#include <Poco/Exception.h>
#include <Poco/Logger.h>

#include <atomic>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "configCheck.h"
#include "durableState.h"
#include "fuelgateVersion.h"
#include "fuelweb.h"
#include "fuelwebOptions.h"
#include "holdKeeper.h"
#include "operatorListener.h"
#include "orderRecovery.h"
#include "serviceSettings.h"
#include "serviceStatus.h"
#include "serviceStop.h"
#include "settings.h"
#include "settingsCheck.h"
#include "systemdNotify.h"
#include "upstreamTransfer.h"
#include "watchdogPinger.h"
#include "webConfig.h"
#include "webService.h"
#include "weblog.h"

namespace {

namespace notify = pcudata::systemdNotify;

using azs_apps::webService;

// The service of the current cycle and the restart flag, shared by main and the signal thread.
std::mutex srvMutex;
webService* srv = nullptr;
bool stopPending = false;  // a signal came while no service was live
std::atomic<int> got_sighup{0};

void stopService()
{
    std::lock_guard<std::mutex> lock(srvMutex);
    if (srv != nullptr)
        srv->shutdown();
    else
        stopPending = true;
}

// The last signal before the service stops decides: SIGHUP restarts, SIGINT and SIGTERM end.
void onSignal(int sig)
{
    Poco::Logger& log = Poco::Logger::get("fuelweb");
    got_sighup = 0;
    if (sig == SIGHUP) {
        got_sighup = 1;
        notify::send("RELOADING=1");
        poco_notice(log, "Перезапуск приложения");
    } else {
        notify::send("STOPPING=1");
        poco_notice(log, "Остановка приложения по сигналу [ " + std::to_string(sig) + " ]");
    }
    stopService();
}

sigset_t handledSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGPIPE);
    return set;
}

void signalLoop(sigset_t set)
{
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        // A write to a closed connection fails with EPIPE; the signal itself means nothing.
        if (sig == SIGPIPE) continue;
        onSignal(sig);
    }
}

// Makes svc the target of the signal thread for one cycle.
class liveService {
public:
    explicit liveService(webService& svc)
    {
        std::lock_guard<std::mutex> lock(srvMutex);
        srv = &svc;
        if (stopPending) svc.shutdown();
        stopPending = false;
    }
    ~liveService()
    {
        std::lock_guard<std::mutex> lock(srvMutex);
        srv = nullptr;
    }
    liveService(const liveService&) = delete;
    liveService& operator=(const liveService&) = delete;
};

// Services of finished cycles, released on their own threads so that a restart does not wait for
// the requests they are still serving (a delivery can take many minutes), nor for the orders the
// cycle took over at its start.
class retiredServices {
public:
    ~retiredServices()
    {
        for (std::thread& t : threads) t.join();
    }
    void add(std::unique_ptr<webService> svc, std::unique_ptr<azs_apps::orderRecovery> taken,
             std::unique_ptr<azs_apps::holdKeeper> keeper)
    {
        threads.emplace_back(
            [old = std::move(svc), resumed = std::move(taken), kept = std::move(keeper)]() mutable {
                kept.reset();
                resumed.reset();
                old.reset();
            });
    }

private:
    std::vector<std::thread> threads;
};

// The status line of the live cycle, asked for by the watchdog's thread.
std::mutex statusMutex;
std::shared_ptr<azs_apps::serviceStatus> liveStatus;

std::string statusText()
{
    std::shared_ptr<azs_apps::serviceStatus> s;
    {
        std::lock_guard<std::mutex> lock(statusMutex);
        s = liveStatus;
    }
    return s ? s->text() : std::string();
}

void setLiveStatus(std::shared_ptr<azs_apps::serviceStatus> s)
{
    std::lock_guard<std::mutex> lock(statusMutex);
    liveStatus = std::move(s);
}

void configureLogging(const azs_apps::serviceSettings& s)
{
    azs_apps::weblog::configure(s.logLevel, s.logFile);
}

// What the operator needs to check that the service and the monitor daemon meet: where requests
// are taken (the port actually bound, also when "service.port" is 0) and the segment's key file,
// which must be the daemon's.
void logStartup(Poco::Logger& log, webService& svc, const azs_apps::settings& cfg)
{
    poco_information(log, "Приём запросов на " + svc.settings().ip + ":" + std::to_string(svc.port()));
    poco_information(log, "Файл ключа разделяемой памяти: " + cfg.controller.keyFile);
}

int fatal(Poco::Logger& log, const std::string& text)
{
    poco_error(log, text);
    std::cerr << text << std::endl;
    return 1;
}

std::string errorText(const std::exception& e)
{
    // what() of a Poco exception gives only its class name.
    const auto* poco = dynamic_cast<const Poco::Exception*>(&e);
    return poco != nullptr ? poco->displayText() : e.what();
}

// The configuration of a cycle: the file as read (it remembers which keys it found mistyped) and
// the settings read from it, once.
struct cycleConfig {
    azs_apps::webConfig file;
    std::shared_ptr<const azs_apps::settings> cfg;
};

// The configuration read afresh. At a restart, a configuration that can not be read or run with
// leaves the last good one in force: a mistake made in the file during the day must not stop the
// station at the night's log rotation, which sends the SIGHUP.
cycleConfig readCycle(const std::string& path, const cycleConfig* lastGood, Poco::Logger& log)
{
    try {
        cycleConfig c{azs_apps::webConfig::fromFile(path), nullptr};
        c.cfg = std::make_shared<const azs_apps::settings>(azs_apps::settings::read(c.file));
        return c;
    } catch (const std::exception& e) {
        if (lastGood == nullptr) throw;
        poco_error(log, "Ошибка в конфигурации, приложение продолжает работу с прежней конфигурацией: " +
                            errorText(e));
        return *lastGood;
    }
}

int runCycles(const std::string& path)
{
    Poco::Logger& log = Poco::Logger::get("fuelweb");
    // Declared before the retired services: it outlives the requests they still serve.
    std::unique_ptr<azs_apps::durableState> state;
    retiredServices retired;
    try {
        std::unique_ptr<cycleConfig> lastGood;
        for (;;) {
            cycleConfig cycle = readCycle(path, lastGood.get(), log);
            lastGood = std::make_unique<cycleConfig>(cycle);
            const azs_apps::settings& cfg = *cycle.cfg;
            auto svc = azs_apps::fuelweb::service(cycle.cfg);
            configureLogging(cfg.service);
            // Each mistyped and each unknown key once per configuration read, into the log just
            // configured.
            cycle.file.logNewWarnings(log);
            for (const std::string& w : pcudata::unknownKeyWarnings(cycle.file)) poco_warning(log, w);
            // The new cycle's state is in place before the old one's stops, so that no notice or
            // journal row of a request still running falls between them.
            state = std::make_unique<azs_apps::durableState>(cfg);
            // The operator's listener comes first, so that the take-over below can be watched
            // (/ready answers 503 until the cycle listens for the platform); it goes first too, at
            // the cycle's end, so that the next cycle can bind its port.
            std::unique_ptr<azs_apps::operatorListener> watcher =
                azs_apps::operatorListener::forCycle(cycle.cfg);
            if (watcher) watcher->start();
            // Destroyed before the service: it waits for the orders taken over as the service for
            // its requests.
            std::unique_ptr<azs_apps::orderRecovery> resumed;
            std::unique_ptr<azs_apps::holdKeeper> keeper;
            {
                liveService live(*svc);
                poco_information(log, "Запуск приложения");
                log.debug("Поддержка отладочных сообщений включена");
                // Orders that a process ended during are taken over before any request can come
                // for them.
                resumed = std::make_unique<azs_apps::orderRecovery>(cfg, state->served());
                // The pool's first root object is made now, so that its report of the settings
                // comes with the start of the cycle rather than with its first request.
                svc->apps().acquire();
                // What a process ended at the wrong moment left held for nobody is given back
                // before any request can come for the pump; then the keeper looks every second.
                keeper = std::make_unique<azs_apps::holdKeeper>(cfg, state->holds());
                try {
                    svc->start();
                } catch (const std::exception& e) {
                    // Said at once: the orders taken over are still followed to their end first.
                    const int status = fatal(log, e.what());
                    azs_apps::upstream::serviceStop::begin();
                    return status;
                }
                logStartup(log, *svc, cfg);
                if (watcher) watcher->markReady();
                auto status = std::make_shared<azs_apps::serviceStatus>(cfg);
                notify::send("READY=1\nSTATUS=" + status->text());
                setLiveStatus(status);
                svc->run();
            }
            // Read and clear in one step: a SIGHUP that lands in between must not turn into a stop.
            if (got_sighup.exchange(0) == 0) {
                poco_notice(log, "Завершение работы приложения");
                // Final notices still being retried are in the state file: the next start sends
                // them. The deliveries in progress are waited for.
                azs_apps::upstream::serviceStop::begin();
                return 0;
            }
            poco_warning(log, "Рестарт приложения");
            watcher.reset();
            retired.add(std::move(svc), std::move(resumed), std::move(keeper));
        }
    } catch (const std::exception& e) {
        return fatal(log, errorText(e));
    }
}

// Started only under a systemd watchdog (WatchdogSec): pings twice per period.
std::unique_ptr<pcudata::watchdogPinger> startWatchdog()
{
    const int64_t periodUs = notify::watchdogUs();
    if (periodUs <= 0) return nullptr;
    auto pinger = std::make_unique<pcudata::watchdogPinger>(
        pcudata::heartbeats(), pcudata::watchdogPinger::limitFor(periodUs), statusText);
    pinger->start(periodUs / 2);
    return pinger;
}

// --help, --version, --check-config and a wrong command line: the exit status; -1 to run.
int answerCommandLine(const azs_apps::fuelwebOptions& o)
{
    using opts = azs_apps::fuelwebOptions;
    switch (o.what) {
        case opts::help:
            std::cout << azs_apps::fuelwebUsage();
            return 0;
        case opts::version:
            std::cout << "fuelweb " << fuelgateVersionLine() << std::endl;
            return 0;
        case opts::check:
            return azs_apps::checkSettingsFile(o.config, std::cout);
        case opts::wrong:
            if (!o.problem.empty()) std::cerr << "fuelweb: " << o.problem << "\n";
            std::cerr << azs_apps::fuelwebUsage();
            return 1;
        case opts::run:
            break;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const azs_apps::fuelwebOptions options = azs_apps::fuelwebOptions::parse(argc, argv);
    const int answered = answerCommandLine(options);
    if (answered >= 0) return answered;

    sigset_t set = handledSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // libcurl's global set-up is not thread-safe: done here before any thread exists. A failure
    // is kept and reported by every notice.
    azs_apps::upstream::globalInit();
    azs_apps::weblog::configure("info", "");
    azs_apps::weblog::routeLibraryLines();
    std::thread(signalLoop, set).detach();
    std::unique_ptr<pcudata::watchdogPinger> watchdog = startWatchdog();

    int status = runCycles(options.config);
    watchdog.reset();
    setLiveStatus(nullptr);

    azs_apps::weblog::drain();
    curl_global_cleanup();
    return status;
}
