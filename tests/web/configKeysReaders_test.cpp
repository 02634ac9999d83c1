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

// Set in the file to json, key makes fuelweb's reader say its name ([] is a type no key takes).
bool fuelwebComplains(const std::string& key, const std::string& json = "[]")
{
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
        EXPECT_TRUE(fuelwebComplains(k.name))
            << k.name << " is in the table but the service does not read it";
    }
}

// Set in the file to json, key makes the daemon's reader say its name.
bool daemonComplains(const std::string& key, const std::string& json = "[]")
{
    webtest::tempDir dir;
    const std::string path = dir.path() + "/config.json";
    std::ofstream(path) << "{\"fuelweb\":{\"" << key.substr(std::string("fuelweb.").size()) << "\":" << json
                        << "}}";
    mon::settings s;
    EXPECT_EQ(mon::loadConfig(path, s), mon::CONTINUE);
    for (const std::string& w : s.warnings)
        if (w.find("\"" + key + "\"") != std::string::npos) return true;
    return false;
}

// Each integer key's ends: the reader takes lo and hi and refuses one step beyond, as the check.
TEST(ConfigKeysReaders, EachReaderAcceptsTheTablesRangeOfAKey)
{
    for (const pcudata::configKey& k : pcudata::configKeys()) {
        if (k.kind != pcudata::keyKind::integer) continue;
        const bool web = (k.readers & pcudata::readByFuelweb) != 0;
        auto complains = [&](int64_t v) {
            const std::string json = std::to_string(v);
            return web ? fuelwebComplains(k.name, json) : daemonComplains(k.name, json);
        };
        SCOPED_TRACE(k.name);
        EXPECT_FALSE(complains(k.lo));
        EXPECT_FALSE(complains(k.hi));
        EXPECT_TRUE(complains(k.lo - 1));
        EXPECT_TRUE(complains(k.hi + 1));
    }
}

TEST(ConfigKeysReaders, EveryKeyOfTheDaemonInTheTableIsRead)
{
    for (const pcudata::configKey& k : pcudata::configKeys()) {
        if ((k.readers & pcudata::readByDaemon) == 0) continue;
        EXPECT_TRUE(daemonComplains(k.name)) << k.name << " is in the table but the daemon does not read it";
    }
}

}  // namespace
