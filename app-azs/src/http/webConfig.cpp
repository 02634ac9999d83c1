#include "webConfig.h"

namespace azs_apps {

webConfig webConfig::fromText(const std::string& text)
{
    webConfig cfg;
    std::string reason;
    if (parse(text, cfg, reason) != ok) throw configError("Конфигурация: " + reason);
    return cfg;
}

webConfig webConfig::fromFile(const std::string& path)
{
    webConfig cfg;
    std::string reason;
    switch (load(path, cfg, reason)) {
        case ok:
            return cfg;
        case unreadable:
            throw configError("Не удалось прочитать файл конфигурации " + path + ": " + reason);
        default:
            throw configError("Файл конфигурации " + path + ": " + reason);
    }
}

void webConfig::logNewWarnings(Poco::Logger& log) const
{
    for (const std::string& text : newWarnings()) log.warning(text);
}

}  // namespace azs_apps
