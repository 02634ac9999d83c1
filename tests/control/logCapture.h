#pragma once
// Collects what the controller session logs, per logger, at every level, for the lifetime of the
// object; the loggers get their previous channel and level back afterwards.
#include <Poco/Channel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>

#include <mutex>
#include <string>
#include <vector>

namespace ctltest {

// Module names; the second has a Cyrillic "с" (U+0441).
extern const char* const LOG_CTL;
extern const char* const LOG_CTL_CYR;
extern const char* const LOG_FUELING;
extern const char* const LOG_ORDER;

struct logLine {
    std::string source;
    int prio;
    std::string text;
};

class logSink : public Poco::Channel {
public:
    void log(const Poco::Message& msg) override;
    std::vector<logLine> lines();

private:
    std::mutex mu;
    std::vector<logLine> got;
};

class logCapture {
public:
    logCapture();
    ~logCapture();
    logCapture(const logCapture&) = delete;
    logCapture& operator=(const logCapture&) = delete;

    std::vector<logLine> lines() { return sink->lines(); }
    // Texts logged under one module, optionally only at one priority (0 = any).
    std::vector<std::string> texts(const std::string& source, int prio = 0);
    bool has(const std::string& source, int prio, const std::string& text);

private:
    struct saved {
        Poco::Logger* logger;
        Poco::Channel::Ptr channel;
        int level;
    };
    Poco::AutoPtr<logSink> sink;
    std::vector<saved> previous;
};

}  // namespace ctltest
