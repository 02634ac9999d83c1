// The table of known keys: the nearest known key of a misspelt one, and the check of a file by
// the table (which program's keys it judges, what is an error and what a warning).
#include "configKeys.h"

#include <gtest/gtest.h>

#include "configCheck.h"
#include "configFile.h"

namespace {

TEST(ConfigKeys, NearestKnownKeyOfAMisspelling)
{
    const struct {
        const char* name;
        const char* nearest;
    } cases[] = {
        {"fuelweb.ctl_adr", "fuelweb.ctl_addr"},                     // a letter missing
        {"fuelweb.upstream_endpiont", "fuelweb.upstream_endpoint"},  // two letters swapped
        {"fuelweb.ctl_portt", "fuelweb.ctl_port"},                   // a letter too many
        {"fuelweb.CTL_PORT", "fuelweb.ctl_port"},                    // letter case
        {"service.prt", "service.port"},
        {"fuelweb.ctl_pmtcode_corp", "fuelweb.ctl_pmtcod_corp"},
        {"fuelweb.ctl_xyz", ""},  // three edits from every key
        {"comment", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(pcudata::nearestConfigKey(c.name), c.nearest) << c.name;
}

TEST(ConfigKeys, EveryNameOnce)
{
    const auto& table = pcudata::configKeys();
    for (size_t i = 0; i < table.size(); ++i)
        for (size_t j = i + 1; j < table.size(); ++j) EXPECT_STRNE(table[i].name, table[j].name);
    ASSERT_NE(pcudata::findConfigKey("fuelweb.operator.port"), nullptr);
    EXPECT_EQ(pcudata::findConfigKey("fuelweb.operator.port")->hi, 65535);
}

pcudata::configFile parsed(const std::string& text)
{
    pcudata::configFile cfg;
    std::string reason;
    EXPECT_EQ(pcudata::configFile::parse(text, cfg, reason), pcudata::configFile::ok) << reason;
    return cfg;
}

TEST(ConfigCheckByTable, ValuesFitTheirKindAndRange)
{
    const struct {
        const char* json;
        pcudata::configFile::fit fit;
    } cases[] = {
        {R"({"service":{"port":8080}})", pcudata::configFile::fits},
        {R"({"service":{"port":0}})", pcudata::configFile::fits},
        {R"({"service":{"port":"8080"}})", pcudata::configFile::wrongType},
        {R"({"service":{"port":8080.5}})", pcudata::configFile::wrongType},
        {R"({"service":{"port":65536}})", pcudata::configFile::outOfRange},
        {R"({"service":{"port":-1}})", pcudata::configFile::outOfRange},
        {R"({"service":{"port":1e30}})", pcudata::configFile::outOfRange},
        {R"({"service":{"port":true}})", pcudata::configFile::wrongType},
        {R"({"service":{"port":{"a":1}}})", pcudata::configFile::wrongType},
    };
    const pcudata::configKey& port = *pcudata::findConfigKey("service.port");
    for (const auto& c : cases) EXPECT_EQ(parsed(c.json).fitOf(port), c.fit) << c.json;
}

TEST(ConfigCheckByTable, EachProgramJudgesItsOwnKeysAndKnowsTheOthers)
{
    const pcudata::configFile cfg =
        parsed(R"({"service":{"port":"x"},"fuelweb":{"mon_port":0,"ctl_addr":5,"operator":{"port":8081}},)"
               R"("_note":"kept by hand"})");
    auto texts = [](const std::vector<pcudata::checkLine>& lines) {
        std::vector<std::string> out;
        for (const auto& l : lines) out.push_back(std::string(l.error ? "E " : "W ") + l.key);
        return out;
    };
    EXPECT_EQ(texts(pcudata::checkConfig(cfg, pcudata::readByFuelweb)),
              (std::vector<std::string>{"W _note", "E service.port", "E fuelweb.ctl_addr"}));
    EXPECT_EQ(texts(pcudata::checkConfig(cfg, pcudata::readByDaemon)),
              (std::vector<std::string>{"W _note", "E fuelweb.ctl_addr", "E fuelweb.mon_port"}));
}

TEST(ConfigCheckByTable, TheTableRangeIsTheReadersRange)
{
    // Not positive would mean "never": the reader takes the default, and says so.
    const pcudata::configFile cfg = parsed(R"({"fuelweb":{"notice_resend_interval":0}})");
    EXPECT_EQ(cfg.getRanged("fuelweb.notice_resend_interval", 600), 600);
    ASSERT_EQ(cfg.newWarnings().size(), 1u);
}

}  // namespace
