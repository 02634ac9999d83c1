// The reader of the configuration file that both programs share: strict types, defaults with one
// warning per key, and plain reasons for a file that can not be used.
#include "configFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "sharedConfig.h"

using pcudata::configFile;

namespace {

configFile parsed(const std::string& text)
{
    configFile cfg;
    std::string reason;
    EXPECT_EQ(configFile::parse(text, cfg, reason), configFile::ok) << reason;
    return cfg;
}

// One value of "k" and what each typed read makes of it; "-" marks the default.
struct typeCase {
    const char* json;
    const char* asString;
    const char* asInt;
    const char* asDouble;
    const char* asBool;
    const char* asPort;
};

TEST(ConfigFileTypes, EachReadTakesOnlyItsOwnType)
{
    const typeCase cases[] = {
        {"\"5\"", "5", "-", "-", "-", "-"},
        {"5", "-", "5", "5", "-", "5"},
        {"5.0", "-", "5", "5", "-", "5"},
        {"5.5", "-", "-", "5.5", "-", "-"},
        {"-1", "-", "-1", "-1", "-", "-"},
        {"0", "-", "0", "0", "-", "-"},
        {"65535", "-", "65535", "65535", "-", "65535"},
        {"65536", "-", "65536", "65536", "-", "-"},
        {"2147483648", "-", "-", "2.14748e+09", "-", "-"},
        {"18446744073709551615", "-", "-", "1.84467e+19", "-", "-"},
        {"true", "-", "-", "-", "true", "-"},
        {"1", "-", "1", "1", "-", "1"},
        {"{\"x\":1}", "-", "-", "-", "-", "-"},
        {"[1]", "-", "-", "-", "-", "-"},
    };
    for (const typeCase& c : cases) {
        SCOPED_TRACE(c.json);
        configFile cfg = parsed(std::string("{\"g\":{\"k\":") + c.json + "}}");
        const std::string s = cfg.getString("g.k", "-");
        EXPECT_EQ(s, c.asString);
        const int32_t i = cfg.getInt("g.k", -7);
        EXPECT_EQ(i == -7 ? std::string("-") : std::to_string(i), c.asInt);
        const double d = cfg.getDouble("g.k", -7.0);
        std::ostringstream ds;
        ds << d;
        EXPECT_EQ(d == -7.0 ? std::string("-") : ds.str(), c.asDouble);
        EXPECT_EQ(cfg.getBool("g.k", false) ? "true" : (cfg.getBool("g.k", true) ? "-" : "false"),
                  std::string(c.asBool));
        const uint32_t p = cfg.getPort("g.k", 7);
        EXPECT_EQ(p == 7 ? std::string("-") : std::to_string(p), c.asPort);
    }
}

TEST(ConfigFileTypes, AbsentAndNullTakeTheDefaultWithoutWarning)
{
    configFile cfg = parsed("{\"g\":{\"n\":null},\"s\":\"x\"}");
    EXPECT_EQ(cfg.getString("g.n", "d"), "d");
    EXPECT_EQ(cfg.getInt("g.absent", 4), 4);
    EXPECT_EQ(cfg.getInt("s.deeper", 4), 4) << "a path through a non-object";
    EXPECT_EQ(cfg.getPort("nothing.at.all", 9), 9u);
    EXPECT_FALSE(cfg.has("g.n"));
    EXPECT_TRUE(cfg.newWarnings().empty());
}

TEST(ConfigFileWarnings, OncePerKeyNamingValueAndDefault)
{
    configFile cfg = parsed("{\"fuelweb\":{\"tmp_path\":true,\"ctl_port\":\"7000\",\"order_timeout\":1.5}}");
    EXPECT_EQ(cfg.getString("fuelweb.tmp_path", "/tmp"), "/tmp");
    EXPECT_EQ(cfg.getString("fuelweb.tmp_path", "/tmp"), "/tmp");
    EXPECT_EQ(cfg.getPort("fuelweb.ctl_port", 65520), 65520u);
    configFile copy = cfg;  // copies share the warnings: a key read through both warns once
    EXPECT_EQ(copy.getInt("fuelweb.order_timeout", 120), 120);
    EXPECT_EQ(cfg.getInt("fuelweb.order_timeout", 120), 120);
    const std::vector<std::string> expected = {
        "Ключ конфигурации \"fuelweb.tmp_path\" = true не подходит (ожидается строка): взято значение по "
        "умолчанию \"/tmp\"",
        "Ключ конфигурации \"fuelweb.ctl_port\" = \"7000\" не подходит (ожидается номер порта от 1 до "
        "65535): "
        "взято значение по умолчанию 65520",
        "Ключ конфигурации \"fuelweb.order_timeout\" = 1.5 не подходит (ожидается целое число от -2147483648 "
        "до "
        "2147483647): взято значение по умолчанию 120",
    };
    EXPECT_EQ(cfg.newWarnings(), expected);
    EXPECT_TRUE(copy.newWarnings().empty()) << "handed out once";
    cfg.getString("fuelweb.tmp_path", "/tmp");
    EXPECT_TRUE(cfg.newWarnings().empty()) << "a key warns once per file read";
}

TEST(ConfigFileWarnings, ConcurrentReadersWarnOnce)
{
    configFile cfg = parsed("{\"k\":\"x\"}");
    std::vector<std::thread> readers;
    for (int i = 0; i < 8; ++i)
        readers.emplace_back([cfg] {
            for (int j = 0; j < 200; ++j) cfg.getInt("k", 1);
        });
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(cfg.newWarnings().size(), 1u);
}

struct docCase {
    std::string text;
    configFile::status status;
    const char* reasonPart;
};

TEST(ConfigFileDocument, ReasonsForTextsThatAreNoConfiguration)
{
    const docCase cases[] = {
        {"\xEF\xBB\xBF{\"a\":{\"b\":2}}", configFile::ok, ""},
        {" \n\t{}", configFile::ok, ""},
        {"", configFile::notJson, "пустой документ"},
        {"\xEF\xBB\xBF  \n", configFile::notJson, "пустой документ"},
        {"{\"a\":", configFile::notJson, "ошибка в JSON"},
        {"{\"a\":1} x", configFile::notJson, "ошибка в JSON"},
        {"{\"a\":1e400}", configFile::notJson, "1e400"},
        {"[1,2]", configFile::notObject, "не является объектом JSON"},
        {"5", configFile::notObject, "не является объектом JSON"},
        {"\"text\"", configFile::notObject, "не является объектом JSON"},
        {"null", configFile::notObject, "не является объектом JSON"},
        {"[1,", configFile::notJson, "ошибка в JSON"},
        {"hello", configFile::notJson, "ошибка в JSON"},
    };
    for (const docCase& c : cases) {
        SCOPED_TRACE(c.text);
        configFile cfg;
        std::string reason;
        EXPECT_EQ(configFile::parse(c.text, cfg, reason), c.status);
        if (c.status == configFile::ok) {
            EXPECT_EQ(cfg.getInt("a.b", 0), c.text.find("\"b\":2") != std::string::npos ? 2 : 0);
            continue;
        }
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
        EXPECT_FALSE(cfg.has("a")) << "a failed parse leaves every key at its default";
    }
}

TEST(ConfigFileDocument, FilesThatCanNotBeReadSayWhy)
{
    char dirName[] = "/tmp/configfile_test_XXXXXX";
    ASSERT_NE(::mkdtemp(dirName), nullptr);
    const std::string dir = dirName;
    configFile cfg;
    std::string reason;
    EXPECT_EQ(configFile::load(dir + "/missing.json", cfg, reason), configFile::unreadable);
    EXPECT_EQ(reason.rfind("ENOENT (", 0), 0u) << reason;
    EXPECT_EQ(configFile::load(dir, cfg, reason), configFile::unreadable);
    EXPECT_EQ(reason.rfind("EISDIR (", 0), 0u) << reason;
    std::ofstream(dir + "/ok.json") << "\xEF\xBB\xBF{\"fuelweb\":{\"tmp_path\":\"/run/x\"}}";
    ASSERT_EQ(configFile::load(dir + "/ok.json", cfg, reason), configFile::ok) << reason;
    EXPECT_EQ(pcudata::sharedConfig::read(cfg).keyFile(), "/run/x/trkstat.mem");
    (void)!std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
