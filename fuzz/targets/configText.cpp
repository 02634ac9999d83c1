// The configuration file that both programs read: the text as a file's contents, through the
// shared reader, fuelweb's service keys and the daemon's own reading of the file.
//
// What must hold:
//  - no text makes a reader throw, except the service's configError for a service key that is
//    unusable (and then only that);
//  - a key holds at most one type; an integer reads the same as a real; a real is finite; a port is
//    1..65535; whatever a key holds, reading it with another type gives the caller's default;
//  - a key that took its default although present is warned about once per reading, a key that
//    did not is never;
//  - the service's keys are in their ranges when accepted, and both programs read the keys they
//    share alike.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <iostream>
#include <set>

#include "configFile.h"
#include "fuzzSupport.h"
#include "fuzzTarget.h"
#include "pcuMonitorServer.h"
#include "serviceSettings.h"
#include "sharedConfig.h"
#include "webConfig.h"
#include "weblog.h"

namespace {

using pcudata::configFile;

// The keys both programs read, a few that no one reads, and paths through non-objects.
const char* const KEYS[] = {
    "fuelweb.script",
    "fuelweb.ctl_key",
    "fuelweb.upstream_endpoint",
    "fuelweb.upstream_key",
    "fuelweb.upstream_verify_tls",
    "fuelweb.upstream_ca_file",
    "fuelweb.ctl_addr",
    "fuelweb.ctl_port",
    "fuelweb.mon_port",
    "fuelweb.ctl_wplace",
    "fuelweb.ctl_wplace_type",
    "fuelweb.ctl_pmtcod",
    "fuelweb.ctl_postpay_allow",
    "fuelweb.order_timeout",
    "fuelweb.tmp_path",
    "fuelweb.run_path",
    "fuelweb.log_path",
    "fuelweb.ctl_underfill_order",
    "fuelweb.ctl_overfill_order",
    "fuelweb.ctl_overfill_lock",
    "fuelweb.ctl_autocafe_allow",
    "service.ip",
    "service.port",
    "service.worker_threads",
    "logging.level",
    "logging.file",
    "service.bench_route",
    "fuelweb",
    "fuelweb.ctl_port.x",
    "x",
    "",
    ".",
    "fuelweb.",
};

struct typedKey {
    bool isText, isInt, isReal, isFlag, isPort;
    int32_t intValue;
    double realValue;
    uint32_t portValue;
};

typedKey readTyped(const configFile& cfg, const std::string& key)
{
    typedKey k{};
    k.isText = cfg.getString(key, "\x01") == cfg.getString(key, "\x02");
    k.intValue = cfg.getInt(key, -7);
    k.isInt = k.intValue == cfg.getInt(key, 11);
    k.realValue = cfg.getDouble(key, -7.5);
    k.isReal = k.realValue == cfg.getDouble(key, 11.5);
    k.isFlag = cfg.getBool(key, true) == cfg.getBool(key, false);
    k.portValue = cfg.getPort(key, 0);
    k.isPort = k.portValue == cfg.getPort(key, 70000);
    return k;
}

void checkKey(const configFile& cfg, const std::string& key, std::set<std::string>& fellBack)
{
    const typedKey k = readTyped(cfg, key);
    FUZZ_CHECK(int(k.isText) + int(k.isReal) + int(k.isFlag) <= 1);
    if (k.isInt) FUZZ_CHECK(k.isReal && k.realValue == static_cast<double>(k.intValue));
    if (k.isReal) FUZZ_CHECK(std::isfinite(k.realValue));
    if (k.isPort)
        FUZZ_CHECK(k.isInt && k.portValue >= 1 && k.portValue <= 65535 &&
                   static_cast<int32_t>(k.portValue) == k.intValue);
    if (!cfg.has(key)) FUZZ_CHECK(!k.isText && !k.isReal && !k.isFlag);

    std::string text;
    FUZZ_CHECK(cfg.readString(key, text) == k.isText);
    int64_t n = 0;
    if (cfg.readInt(key, 1, 65535, n)) FUZZ_CHECK(k.isPort && n == k.portValue);
    // Every present key fits one read at most: the other reads above took their defaults.
    if (cfg.has(key)) fellBack.insert(key);
}

// "Ключ конфигурации "<key>" = ..." names the key between the first two quotes.
std::string warnedKey(const std::string& warning)
{
    const size_t open = warning.find('"');
    const size_t close = open == std::string::npos ? open : warning.find("\" = ", open + 1);
    return close == std::string::npos ? "" : warning.substr(open + 1, close - open - 1);
}

void checkWarnings(const configFile& cfg, const std::set<std::string>& present)
{
    std::set<std::string> warned;
    for (const std::string& w : cfg.newWarnings()) {
        const std::string key = warnedKey(w);
        FUZZ_CHECK(warned.insert(key).second);  // once per key
        FUZZ_CHECK(present.count(key) == 1);
    }
    // Every present key was read with a type it does not hold (it can hold only one).
    FUZZ_CHECK(warned == present);
    for (const char* key : KEYS) readTyped(cfg, key);
    FUZZ_CHECK(cfg.newWarnings().empty());
}

void checkService(const configFile& cfg)
{
    try {
        const azs_apps::serviceSettings s = azs_apps::serviceSettings::read(cfg);
        FUZZ_CHECK(!s.ip.empty());
        FUZZ_CHECK(s.port >= 0 && s.port <= 65535);
        FUZZ_CHECK(s.workers >= 1 && s.workers <= azs_apps::serviceSettings::MAX_WORKERS);
        FUZZ_CHECK(azs_apps::weblog::priorityOf(s.logLevel) >= 0);
    } catch (const azs_apps::configError&) {
    }
}

// The daemon reads a file: the text goes into a memory file reached through /proc.
void checkDaemon(const std::string& text, const configFile& cfg, configFile::status st)
{
    const int fd = ::memfd_create("fuzz-config", MFD_CLOEXEC);
    if (fd < 0) return;
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        ::close(fd);
        return;
    }
    namespace ms = pcudata::monitorServer;
    ms::settings s;
    std::streambuf* const err = std::cerr.rdbuf(nullptr);  // its message for the operator
    const int rc = ms::loadConfig("/proc/self/fd/" + std::to_string(fd), s);
    std::cerr.rdbuf(err);
    std::cerr.clear();
    ::close(fd);
    if (st == configFile::notJson) {
        FUZZ_CHECK(rc == 5);
        return;
    }
    FUZZ_CHECK(rc == ms::CONTINUE);
    const pcudata::sharedConfig shared = pcudata::sharedConfig::read(cfg);
    FUZZ_CHECK(s.host == shared.ctlAddr && s.tmpPath == shared.tmpPath);
    FUZZ_CHECK(s.port >= 1 && s.port <= 65535);
    FUZZ_CHECK(s.port == cfg.getPort("fuelweb.mon_port", pcudata::pcuMonitor::DEFAULT_PORT));
}

}  // namespace

FUZZ_TARGET(configText)
{
    fuzzing::quietLogs();
    const std::string text(input);
    configFile cfg;
    std::string reason;
    configFile::status st = configFile::unreadable;
    try {
        st = configFile::parse(text, cfg, reason);
    } catch (...) {
        FUZZ_CHECK(!"parsing the configuration threw");
    }
    FUZZ_CHECK(st == configFile::ok || st == configFile::notJson || st == configFile::notObject);
    if (st != configFile::ok) FUZZ_CHECK(!reason.empty());

    std::set<std::string> present;
    for (const char* key : KEYS) checkKey(cfg, key, present);
    checkWarnings(cfg, present);
    if (st != configFile::ok) FUZZ_CHECK(present.empty());

    checkService(cfg);
    try {
        azs_apps::webConfig::fromText(text);
        FUZZ_CHECK(st == configFile::ok);
    } catch (const azs_apps::configError&) {
        FUZZ_CHECK(st != configFile::ok);
    }
    checkDaemon(text, cfg, st);
}
