// The service's log: level names, line format, level filter, and that lines from many threads all
// arrive.
#include "weblog.h"

#include <Poco/Logger.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// What a SIGHUP does to the log: the new cycle's configure points it at the file named now; the
// lines logged before are all in the old file, those after in the new one (rotation relies on it).
TEST(WebLog, ReconfiguringMovesTheLinesToTheNewFileWithoutLosingAny)
{
    webtest::tempDir dir;
    const std::string before = dir.path() + "/fuelweb.log.1";
    const std::string after = dir.path() + "/fuelweb.log";
    Poco::Logger& log = Poco::Logger::get("fuelweb/logtest");
    azs_apps::weblog::configure("info", before);
    std::thread([&log] {
        for (int i = 0; i < 100; ++i) log.information("old " + std::to_string(i));
    }).join();
    log.information("old last");
    azs_apps::weblog::configure("info", after);
    log.information("new");
    azs_apps::weblog::drain();

    const std::string oldText = readFile(before);
    const std::string newText = readFile(after);
    EXPECT_EQ(std::count(oldText.begin(), oldText.end(), '\n'), 101);
    EXPECT_NE(oldText.find("old 99\n"), std::string::npos);
    EXPECT_NE(oldText.find("old last\n"), std::string::npos);
    EXPECT_EQ(newText.find("old"), std::string::npos);
    EXPECT_NE(newText.find("Information fuelweb/logtest: new\n"), std::string::npos);

    Poco::Channel::Ptr none;
    Poco::Logger::root().setChannel(none);
    Poco::Logger::setChannel("", none);
}

// A log that cannot take lines (here a pipe nobody reads, as a hung disk would be) costs bounded
// memory: lines beyond the queue's limit are dropped, and the file says how many once it moves
// again. Every line logged is either in the file or counted.
TEST(WebLog, AStalledFileDropsLinesAndCountsThem)
{
    webtest::tempDir dir;
    const std::string fifo = dir.path() + "/stalled.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int readFd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readFd, 0);
    azs_apps::weblog::configure("info", fifo);

    // 24 MB of lines, more than the queue and the pipe hold together.
    constexpr int LINES = 120000;
    const std::string filler(180, 'x');
    Poco::Logger& log = Poco::Logger::get("fuelweb/logtest");
    for (int i = 0; i < LINES; ++i) log.information(filler);

    // The pipe moves again. A line logged after the flood is written in a round that also reports
    // every drop before it; moving the log elsewhere then closes the pipe.
    ::fcntl(readFd, F_SETFL, 0);
    std::string text;
    std::thread reader([readFd, &text] {
        char buf[65536];
        for (ssize_t n; (n = ::read(readFd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    });
    azs_apps::weblog::drain();
    log.information("end");
    azs_apps::weblog::configure("info", "");
    reader.join();
    ::close(readFd);

    long written = 0, dropped = 0;
    std::istringstream lines(text);
    const std::regex droppedLine("\\((\\d+) log lines dropped\\)");
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("logtest: " + filler) != std::string::npos)
            ++written;
        else if (std::regex_match(line, m, droppedLine))
            dropped += std::stol(m[1].str());
    }
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(written + dropped, LINES);
    EXPECT_NE(text.find("logtest: end\n"), std::string::npos);

    Poco::Channel::Ptr none;
    Poco::Logger::root().setChannel(none);
    Poco::Logger::setChannel("", none);
}

TEST(WebLog, UnopenableFileIsAnError)
{
    EXPECT_ANY_THROW(azs_apps::weblog::configure("info", "/nonexistent/dir/fuelweb.log"));
}

}  // namespace
