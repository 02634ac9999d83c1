// The table of known keys against the readers: every key the fuelweb reader asks for is in the
// table (else the check would call a key the service reads unknown), and every key the table gives
// a program is one that program's reader reads (a value of the wrong type there makes the reader
// complain), so the check and the readers can not drift apart.
#include <gtest/gtest.h>

#include <fstream>

#include "configKeys.h"
#include "pcuMonitorServer.h"
#include "settings.h"
#include "webConfig.h"
#include "webTestSupport.h"

using namespace azs_apps;
namespace mon = pcudata::monitorServer;

namespace {

// Set in the file, as [] (a type no key takes), key makes fuelweb's reader say its name.
bool fuelwebComplains(const std::string& key)
{
    const std::string json = "[]";
    // {"a":{"b":[]}} from "a.b": an object for every step.
    std::string text;
    size_t start = 0, depth = 0;
    for (size_t dot; (dot = key.find('.', start)) != std::string::npos; start = dot + 1, ++depth)
        text += "{\"" + key.substr(start, dot - start) + "\":";
    text += "{\"" + key.substr(start) + "\":" + json + "}" + std::string(depth, '}');
    const webConfig file = webConfig::fromText(text);
    try {
        settings::read(file);
    } catch (const configError& e) {
        return std::string(e.what()).find("\"" + key + "\"") != std::string::npos;
    }
    for (const std::string& w : file.newWarnings())
        if (w.find("\"" + key + "\"") != std::string::npos) return true;
    return false;
}

TEST(ConfigKeysReaders, EveryKeyTheServiceReadsIsInTheTable)
{
    const webConfig empty;
    settings::read(empty);
    for (const std::string& key : empty.consultedKeys())
        EXPECT_NE(pcudata::findConfigKey(key), nullptr) << key << " is read but unknown to the check";
}

TEST(ConfigKeysReaders, EveryKeyOfTheServiceInTheTableIsRead)
{
    for (const pcudata::configKey& k : pcudata::configKeys()) {
        if ((k.readers & pcudata::readByFuelweb) == 0) continue;
        // The operator listener reads these with its own settings.
        if (std::string(k.name).rfind("fuelweb.operator.", 0) == 0) continue;
        EXPECT_TRUE(fuelwebComplains(k.name))
            << k.name << " is in the table but the service does not read it";
    }
}

TEST(ConfigKeysReaders, EveryKeyOfTheDaemonInTheTableIsRead)
{
    webtest::tempDir dir;
    for (const pcudata::configKey& k : pcudata::configKeys()) {
        if ((k.readers & pcudata::readByDaemon) == 0) continue;
        const std::string name = std::string(k.name).substr(std::string("fuelweb.").size());
        const std::string path = dir.path() + "/config.json";
        std::ofstream(path) << "{\"fuelweb\":{\"" << name << "\":[]}}";
        mon::settings s;
        ASSERT_EQ(mon::loadConfig(path, s), mon::CONTINUE);
        bool named = false;
        for (const std::string& w : s.warnings) named = named || w.find(k.name) != std::string::npos;
        EXPECT_TRUE(named) << k.name << " is in the table but the daemon does not read it";
    }
}

}  // namespace
