#include "serviceSettings.h"

#include "webConfig.h"
#include "weblog.h"

namespace azs_apps {

namespace {

[[noreturn]] void reject(const pcudata::configFile& cfg, const std::string& key, const std::string& accepted)
{
    throw configError("Ключ конфигурации \"" + key + "\" = " + cfg.valueText(key) +
                      " недопустим: ожидается " + accepted);
}

void readText(const pcudata::configFile& cfg, const std::string& key, bool allowEmpty,
              const std::string& accepted, std::string& out)
{
    if (!cfg.has(key)) return;
    std::string v;
    if (!cfg.readString(key, v) || (v.empty() && !allowEmpty)) reject(cfg, key, accepted);
    out = v;
}

void readNumber(const pcudata::configFile& cfg, const std::string& key, int32_t lo, int32_t hi,
                const std::string& accepted, int32_t& out)
{
    if (!cfg.has(key)) return;
    int64_t v = 0;
    if (!cfg.readInt(key, lo, hi, v)) reject(cfg, key, accepted);
    out = static_cast<int32_t>(v);
}

}  // namespace

serviceSettings serviceSettings::read(const pcudata::configFile& cfg)
{
    serviceSettings s;
    readText(cfg, "service.ip", false, "адрес строкой, например \"127.0.0.1\"", s.ip);
    readNumber(cfg, "service.port", 0, 65535,
               "целое число от 0 до 65535 (0: свободный порт, выбранный системой)", s.port);
    readNumber(cfg, "service.worker_threads", 1, MAX_WORKERS,
               "целое число от 1 до " + std::to_string(MAX_WORKERS), s.workers);
    readNumber(cfg, "service.read_timeout", 1, 3600, "целое число секунд от 1 до 3600", s.readTimeoutSec);
    readNumber(cfg, "service.max_connections", 1, 65536, "целое число от 1 до 65536", s.maxConnections);
    const std::string levels = "одно из \"error\", \"warning\", \"notice\", \"info\", \"debug\"";
    readText(cfg, "logging.level", false, levels, s.logLevel);
    if (weblog::priorityOf(s.logLevel) < 0) reject(cfg, "logging.level", levels);
    readText(cfg, "logging.file", true, "путь к файлу строкой", s.logFile);
    return s;
}

}  // namespace azs_apps
