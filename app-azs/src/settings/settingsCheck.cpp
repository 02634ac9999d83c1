#include "settingsCheck.h"

#include <ostream>

#include "configCheck.h"
#include "configKeys.h"
#include "serviceSettings.h"
#include "settings.h"
#include "webConfig.h"

namespace azs_apps {

namespace {

// True when a line already speaks of a key that the reader's message names.
bool told(const std::vector<pcudata::checkLine>& lines, const std::string& message)
{
    for (const pcudata::checkLine& l : lines)
        if (l.error && !l.key.empty() && message.find("\"" + l.key + "\"") != std::string::npos) return true;
    return false;
}

}  // namespace

int checkSettingsFile(const std::string& path, std::ostream& out)
{
    webConfig file;
    try {
        file = webConfig::fromFile(path);
    } catch (const configError& e) {
        return pcudata::printCheck({{true, "", e.what()}}, path, out);
    }
    std::vector<pcudata::checkLine> lines = pcudata::checkConfig(file, pcudata::readByFuelweb);
    // A level is a string to the table; which names the log takes only the service knows.
    std::string level;
    if (file.readString("logging.level", level) && !level.empty() && !serviceSettings::knownLevel(level))
        lines.push_back({true, "logging.level",
                         "ключ \"logging.level\" = " + file.valueText("logging.level") +
                             ": значение вне допустимого, ожидается " + serviceSettings::levelsText()});
    try {
        settings::read(file);
    } catch (const configError& e) {
        if (!told(lines, e.what())) lines.push_back({true, "", e.what()});
    }
    return pcudata::printCheck(lines, path, out);
}

}  // namespace azs_apps
