#include "serviceSettings.h"

#include "configKeys.h"
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

// The range is the table's (configKeys), the one the configuration check judges by; note follows
// it in the message.
void readNumber(const pcudata::configFile& cfg, const std::string& key, const std::string& note, int32_t& out)
{
    if (!cfg.has(key)) return;
    const pcudata::configKey& k = *pcudata::findConfigKey(key);
    int64_t v = 0;
    if (!cfg.readInt(key, k.lo, k.hi, v)) reject(cfg, key, pcudata::acceptedText(k) + note);
    out = static_cast<int32_t>(v);
}

}  // namespace

serviceSettings serviceSettings::read(const pcudata::configFile& cfg)
{
    serviceSettings s;
    readText(cfg, "service.ip", false, "адрес строкой, например \"127.0.0.1\"", s.ip);
    readNumber(cfg, "service.port", " (0: свободный порт, выбранный системой)", s.port);
    readNumber(cfg, "service.worker_threads", "", s.workers);
    readNumber(cfg, "service.read_timeout", " (секунд)", s.readTimeoutSec);
    readNumber(cfg, "service.max_connections", "", s.maxConnections);
    readText(cfg, "logging.level", false, levelsText(), s.logLevel);
    if (!knownLevel(s.logLevel)) reject(cfg, "logging.level", levelsText());
    readText(cfg, "logging.file", true, "путь к файлу строкой", s.logFile);
    return s;
}

bool serviceSettings::knownLevel(const std::string& name)
{
    return weblog::priorityOf(name) >= 0;
}

std::string serviceSettings::levelsText()
{
    return "одно из \"error\", \"warning\", \"notice\", \"info\", \"debug\"";
}

}  // namespace azs_apps
