// The service's own keys: a value that does not fit stops the start with a message naming the key
// and what it accepts, instead of being replaced silently.
#include <gtest/gtest.h>

#include <memory>

#include "fuelweb.h"
#include "serviceSettings.h"
#include "webConfig.h"
#include "webService.h"
#include "webTestSupport.h"

using namespace azs_apps;

namespace {

// {"service":{"port":70000}} for key "service.port" and value "70000".
std::string configOf(const std::string& key, const std::string& json)
{
    const size_t dot = key.find('.');
    return "{\"" + key.substr(0, dot) + "\":{\"" + key.substr(dot + 1) + "\":" + json + "}}";
}

// The message of the configError that building a service from text throws; empty when it builds.
std::string refusal(const std::string& text)
{
    try {
        azs_apps::settings::read(webConfig::fromText(text));
    } catch (const configError& e) {
        return e.what();
    }
    return "";
}

struct badValue {
    const char* key;
    const char* json;
    const char* accepted;
};

TEST(ServiceSettings, ValuesThatDoNotFitStopTheStartNamingKeyAndRange)
{
    const char* const PORTS = "целое число от 0 до 65535";
    const char* const WORKERS = "целое число от 1 до 1024";
    const char* const LEVELS = "одно из \"error\", \"warning\", \"notice\", \"info\", \"debug\"";
    const badValue cases[] = {
        {"service.port", "70000", PORTS},
        {"service.port", "-1", PORTS},
        {"service.port", "1.5", PORTS},
        {"service.port", "\"abc\"", PORTS},
        {"service.port", "\"8080\"", PORTS},
        {"service.port", "true", PORTS},
        {"service.worker_threads", "0", WORKERS},
        {"service.worker_threads", "-1", WORKERS},
        {"service.worker_threads", "\"many\"", WORKERS},
        {"service.worker_threads", "2147483647", WORKERS},
        {"service.worker_threads", "1025", WORKERS},
        {"service.worker_threads", "{}", WORKERS},
        {"service.read_timeout", "0", "от 1 до 3600 (секунд)"},
        {"service.read_timeout", "\"5\"", "от 1 до 3600 (секунд)"},
        {"service.max_connections", "0", "от 1 до 65536"},
        {"service.max_connections", "1000000", "от 1 до 65536"},
        {"logging.level", "\"verbose\"", LEVELS},
        {"logging.level", "42", LEVELS},
        {"logging.level", "\"\"", LEVELS},
        {"logging.level", "\"INFO\"", LEVELS},
        {"service.ip", "5", "адрес строкой"},
        {"service.ip", "\"\"", "адрес строкой"},
        {"logging.file", "false", "путь к файлу строкой"},
    };
    for (const badValue& c : cases) {
        const std::string text = configOf(c.key, c.json);
        SCOPED_TRACE(text);
        const std::string msg = refusal(text);
        EXPECT_EQ(msg.rfind(std::string("Ключ конфигурации \"") + c.key + "\" = " + c.json +
                                " недопустим: ожидается ",
                            0),
                  0u)
            << msg;
        EXPECT_NE(msg.find(c.accepted), std::string::npos) << msg;
    }
}

TEST(ServiceSettings, EdgesOfTheRangesAndAbsentKeysAreTaken)
{
    EXPECT_EQ(refusal("{}"), "");
    const std::pair<const char*, const char*> good[] = {
        {"service.port", "0"},
        {"service.port", "65535"},
        {"service.port", "8081.0"},
        {"service.port", "null"},
        {"service.worker_threads", "1"},
        {"service.worker_threads", "1024"},
        {"service.worker_threads", "null"},
        {"service.read_timeout", "1"},
        {"service.max_connections", "65536"},
        {"logging.level", "\"error\""},
        {"logging.level", "\"debug\""},
        {"logging.level", "\"information\""},
        {"logging.file", "\"\""},
        {"service.ip", "\"0.0.0.0\""},
    };
    for (const auto& g : good)
        EXPECT_EQ(refusal(configOf(g.first, g.second)), "") << g.first << " " << g.second;

    const serviceSettings d = serviceSettings::read(webConfig());
    EXPECT_EQ(d.ip, "127.0.0.1");
    EXPECT_EQ(d.port, 8080);
    EXPECT_EQ(d.workers, 64);
    EXPECT_EQ(d.logLevel, "info");
    EXPECT_EQ(d.logFile, "");
    const serviceSettings s =
        serviceSettings::read(webConfig::fromText("{\"service\":{\"ip\":\"0.0.0.0\",\"port\":0,\"worker_"
                                                  "threads\":3.0},\"logging\":{\"level\":\"debug\","
                                                  "\"file\":\"/x.log\"}}"));
    EXPECT_EQ(s.ip, "0.0.0.0");
    EXPECT_EQ(s.port, 0);
    EXPECT_EQ(s.workers, 3);
    EXPECT_EQ(s.logLevel, "debug");
    EXPECT_EQ(s.logFile, "/x.log");
}

// One worker is a legal, if slow, service: the pool must not ask for more threads than that.
TEST(ServiceSettings, SingleWorkerServiceRuns)
{
    auto svc = fuelweb::service(webtest::settingsOf(
        webConfig::fromText("{\"service\":{\"ip\":\"127.0.0.1\",\"port\":0,\"worker_threads\":1}}")));
    svc->start();
    EXPECT_NE(svc->port(), 0);
    svc->shutdown();
    svc->run();
}

}  // namespace
