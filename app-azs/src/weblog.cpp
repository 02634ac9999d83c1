#include "weblog.h"

#include <Poco/AsyncChannel.h>
#include <Poco/ConsoleChannel.h>
#include <Poco/FileChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <Poco/PatternFormatter.h>

#include <mutex>

namespace azs_apps {
namespace weblog {

namespace {

// Bounds the memory a stalled sink can take; beyond it lines are dropped and counted.
const char* const QUEUE_LIMIT = "100000";

std::mutex frontMutex;
Poco::AutoPtr<Poco::AsyncChannel> front;

// The process-wide queue, installed on every logger the first time it is needed.
Poco::AsyncChannel& queue()
{
    std::lock_guard<std::mutex> lock(frontMutex);
    if (front.isNull()) {
        front = new Poco::AsyncChannel;
        front->setProperty("queueSize", QUEUE_LIMIT);
        // The root logger first: loggers made later copy their channel from it.
        Poco::Logger::root().setChannel(front);
        Poco::Logger::setChannel("", front);
    }
    return *front;
}

Poco::Channel::Ptr makeSink(const std::string& file)
{
    Poco::AutoPtr<Poco::PatternFormatter> fmt(new Poco::PatternFormatter("%Y-%m-%d %H:%M:%S.%i %p %s: %t"));
    fmt->setProperty("times", "local");
    Poco::Channel::Ptr out;
    if (file.empty()) {
        out = new Poco::ConsoleChannel;  // standard error (std::clog)
    } else {
        Poco::AutoPtr<Poco::FileChannel> fc(new Poco::FileChannel(file));
        fc->open();  // fails here, at configuration time, rather than silently in the log thread
        out = fc;
    }
    return new Poco::FormattingChannel(fmt, out);
}

}  // namespace

int priorityOf(const std::string& level)
{
    if (level == "error") return Poco::Message::PRIO_ERROR;
    if (level == "warning") return Poco::Message::PRIO_WARNING;
    if (level == "notice") return Poco::Message::PRIO_NOTICE;
    if (level == "info" || level == "information") return Poco::Message::PRIO_INFORMATION;
    if (level == "debug") return Poco::Message::PRIO_DEBUG;
    if (level == "fatal") return Poco::Message::PRIO_FATAL;
    if (level == "critical") return Poco::Message::PRIO_CRITICAL;
    if (level == "trace") return Poco::Message::PRIO_TRACE;
    return -1;
}

void configure(const std::string& level, const std::string& file)
{
    Poco::Channel::Ptr sink = makeSink(file);
    queue().setChannel(sink);
    int prio = priorityOf(level);
    Poco::Logger::root().setLevel(prio < 0 ? Poco::Message::PRIO_INFORMATION : prio);
    Poco::Logger::setLevel("", prio < 0 ? Poco::Message::PRIO_INFORMATION : prio);
}

void setSink(Poco::Channel::Ptr sink)
{
    queue().setChannel(sink);
}

void drain()
{
    queue().close();
}

}  // namespace weblog
}  // namespace azs_apps
