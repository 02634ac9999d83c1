// The service's log: level names, line format, level filter, and that lines from many threads all
// arrive.
#include "weblog.h"

#include <Poco/Logger.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "testSupport.h"
#include "webTestSupport.h"

namespace {

using testsupport::readFile;

TEST(WebLog, LevelNamesOfTheConfiguration)
{
    EXPECT_EQ(azs_apps::weblog::priorityOf("error"), Poco::Message::PRIO_ERROR);
    EXPECT_EQ(azs_apps::weblog::priorityOf("warning"), Poco::Message::PRIO_WARNING);
    EXPECT_EQ(azs_apps::weblog::priorityOf("notice"), Poco::Message::PRIO_NOTICE);
    EXPECT_EQ(azs_apps::weblog::priorityOf("info"), Poco::Message::PRIO_INFORMATION);
    EXPECT_EQ(azs_apps::weblog::priorityOf("debug"), Poco::Message::PRIO_DEBUG);
    EXPECT_EQ(azs_apps::weblog::priorityOf("verbose"), -1);
}

TEST(WebLog, FileGetsFormattedLinesAtTheConfiguredLevelFromAllThreads)
{
    webtest::tempDir dir;
    std::string file = dir.path() + "/fuelweb.log";
    azs_apps::weblog::configure("notice", file);
    Poco::Logger& log = Poco::Logger::get("fuelweb/logtest");
    log.information("hidden");
    log.notice("Запуск");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 500; ++i) log.warning("w" + std::to_string(t) + "-" + std::to_string(i));
        });
    for (std::thread& t : threads) t.join();
    azs_apps::weblog::drain();

    std::string text = readFile(file);
    EXPECT_EQ(text.find("hidden"), std::string::npos);
    EXPECT_TRUE(std::regex_search(
        text,
        std::regex("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} Notice fuelweb/logtest: Запуск\n")));
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 2001u);
    EXPECT_NE(text.find("Warning fuelweb/logtest: w3-499\n"), std::string::npos);

    // Leave the loggers as the other tests expect them: no channel.
    Poco::Channel::Ptr none;
    Poco::Logger::root().setChannel(none);
    Poco::Logger::setChannel("", none);
}

// Request values end up in log texts: a line break in one must not start a line of its own that
// an operator would take for the service's.
TEST(WebLog, ControlCharactersInATextCannotForgeLines)
{
    webtest::tempDir dir;
    std::string file = dir.path() + "/fuelweb.log";
    azs_apps::weblog::configure("info", file);
    Poco::Logger::get("fuelweb/logtest")
        .information("ТРК '7\n2024-01-01 00:00:00.000 Error fuelweb: x\r\x01'\tend");
    azs_apps::weblog::drain();

    std::string text = readFile(file);
    EXPECT_NE(text.find("Information fuelweb/logtest: ТРК '7\\n2024-01-01 00:00:00.000 Error fuelweb: "
                        "x\\r\\x01'\tend\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);

    Poco::Channel::Ptr none;
    Poco::Logger::root().setChannel(none);
    Poco::Logger::setChannel("", none);
}

TEST(WebLog, UnopenableFileIsAnError)
{
    EXPECT_ANY_THROW(azs_apps::weblog::configure("info", "/nonexistent/dir/fuelweb.log"));
}

}  // namespace
