// The keys that fuelweb and the monitor daemon share: from one file both programs must derive the
// same key file and controller host whatever the file holds, and say the same about a bad value.
// (Otherwise the daemon publishes the pumps into one segment while fuelweb reads another.)
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>

#include "fuelweb.h"
#include "pcuMonitorServer.h"
#include "webConfig.h"
#include "webService.h"
#include "webTestSupport.h"

using namespace azs_apps;
namespace mon = pcudata::monitorServer;

namespace {

struct keyCase {
    const char* key;   // under "fuelweb"
    const char* json;  // its value in the file
    bool warns;        // a value that does not fit (null counts as absent)
};

const keyCase MISTYPED[] = {
    {"tmp_path", "true", true},
    {"tmp_path", "5", true},
    {"tmp_path", "null", false},
    {"tmp_path", "{\"dir\":\"/x\"}", true},
    {"tmp_path", "[\"/x\"]", true},
    {"ctl_addr", "false", true},
    {"ctl_addr", "127", true},
    {"ctl_addr", "null", false},
    {"ctl_addr", "{\"host\":\"h\"}", true},
    {"mon_port", "\"65521\"", true},
    {"mon_port", "true", true},
    {"mon_port", "null", false},
    {"mon_port", "{}", true},
    {"mon_port", "70000", true},
    {"mon_port", "0", true},
    {"mon_port", "1.5", true},
    {"ctl_port", "\"65520\"", true},
    {"ctl_port", "-1", true},
    {"ctl_port", "{}", true},
    {"ctl_port", "null", false},
};

// What a program made of the file.
struct view {
    std::string keyFile, host;
    uint32_t port = 0;
    std::vector<std::string> warnings;
};

class SharedKeys : public ::testing::Test {
protected:
    webtest::tempDir dir;

    std::string write(const std::string& fuelwebMembers)
    {
        const std::string path = dir.path() + "/config.json";
        std::ofstream(path) << "{\"fuelweb\":{" << fuelwebMembers << "}}";
        return path;
    }

    view asDaemon(const std::string& file)
    {
        mon::pidFile.clear();
        mon::pcuAddr.clear();
        mon::monPort = 0;
        mon::settings s;
        EXPECT_EQ(mon::loadConfig(file, s), mon::CONTINUE);
        mon::applyOptions(s);
        return {s.keyFile, s.host, s.port, s.warnings};
    }

    view asFuelweb(const std::string& file)
    {
        webtest::logCapture logs;
        auto cfg = webtest::settingsOf(webConfig::fromFile(file));
        auto svc = fuelweb::service(cfg);
        fuelweb app(*svc, *cfg);
        view v{app.pcu().getIpcPath(), app.pcu().sock().getHost(), app.pcu().sock().getPort(), {}};
        for (const webtest::logLine& l : logs.lines())
            if (l.source == "fuelweb" && l.prio == Poco::Message::PRIO_WARNING) v.warnings.push_back(l.text);
        return v;
    }
};

size_t naming(const std::vector<std::string>& warnings, const std::string& key)
{
    size_t n = 0;
    for (const std::string& w : warnings) n += w.find("\"fuelweb." + key + "\"") != std::string::npos;
    return n;
}

TEST_F(SharedKeys, MistypedValuesTakeTheSameDefaultsInBothPrograms)
{
    for (const keyCase& c : MISTYPED) {
        const std::string key = c.key;
        SCOPED_TRACE(key + " = " + c.json);
        const std::string file = write("\"" + key + "\":" + c.json);
        const view d = asDaemon(file);
        const view w = asFuelweb(file);

        EXPECT_EQ(d.keyFile, "/tmp/trkstat.mem");
        EXPECT_EQ(w.keyFile, d.keyFile);
        EXPECT_EQ(d.host, "127.0.0.1");
        EXPECT_EQ(w.host, d.host);
        EXPECT_EQ(d.port, 65521u);
        EXPECT_EQ(w.port, 65520u);

        const bool daemonKey = key != "ctl_port", webKey = key != "mon_port";
        EXPECT_EQ(naming(d.warnings, key), c.warns && daemonKey ? 1u : 0u);
        EXPECT_EQ(naming(w.warnings, key), c.warns && webKey ? 1u : 0u);
        EXPECT_EQ(d.warnings.size() + w.warnings.size(), naming(d.warnings, key) + naming(w.warnings, key))
            << "no other key is mentioned";
        if (c.warns && daemonKey && webKey) {
            EXPECT_EQ(d.warnings, w.warnings) << "the same words in both logs";
        }
    }
}

TEST_F(SharedKeys, GivenValuesMeanTheSameToBothPrograms)
{
    const std::string file = write("\"tmp_path\":\"" + dir.path() +
                                   "\",\"ctl_addr\":\"10.1.2.3\",\"ctl_port\":7000.0,"
                                   "\"mon_port\":7001");
    const view d = asDaemon(file);
    const view w = asFuelweb(file);
    EXPECT_EQ(d.keyFile, dir.keyFile());
    EXPECT_EQ(w.keyFile, dir.keyFile());
    EXPECT_EQ(d.host, "10.1.2.3");
    EXPECT_EQ(w.host, "10.1.2.3");
    EXPECT_EQ(d.port, 7001u);
    EXPECT_EQ(w.port, 7000u);
    EXPECT_TRUE(d.warnings.empty());
    EXPECT_TRUE(w.warnings.empty());
}

// Every root object runs with the settings, but the operator hears about a bad value once per
// reading of the file.
TEST_F(SharedKeys, FuelwebWarnsOncePerConfigurationRead)
{
    webtest::logCapture logs;
    auto cfg = webtest::settingsOf(webConfig::fromText("{\"fuelweb\":{\"tmp_path\":1}}"));
    auto svc = fuelweb::service(cfg);
    fuelweb first(*svc, *cfg);
    fuelweb second(*svc, *cfg);
    size_t n = 0;
    for (const webtest::logLine& l : logs.lines())
        n += l.text.find("\"fuelweb.tmp_path\"") != std::string::npos;
    EXPECT_EQ(n, 1u);
}

}  // namespace
