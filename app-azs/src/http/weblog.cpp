#include "weblog.h"

#include <Poco/Channel.h>
#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "libLog.h"
#include "logEscape.h"

namespace azs_apps {
namespace weblog {

namespace {

// Lines beyond this many waiting are dropped (and counted) rather than letting a stalled disk eat
// the memory.
constexpr size_t QUEUE_LIMIT = 100000;
// A queue this long wakes the writer at once instead of at its next round.
constexpr size_t WAKE_AT = 4096;
constexpr auto ROUND = std::chrono::milliseconds(50);

const char* priorityName(int prio)
{
    static const char* const names[] = {"",       "Fatal",       "Critical", "Error", "Warning",
                                        "Notice", "Information", "Debug",    "Trace"};
    return prio >= 1 && prio <= 8 ? names[prio] : "";
}

struct entry {
    int64_t timeUs;
    int prio;
    std::string source;
    std::string text;
};

// Local time of one second, converted once per second rather than once per line.
class stampCache {
public:
    void append(std::string& out, int64_t timeUs)
    {
        time_t sec = static_cast<time_t>(timeUs / 1000000);
        if (sec != cachedSec) {
            struct tm tm {};
            localtime_r(&sec, &tm);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                          tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
            cachedText = buf;
            cachedSec = sec;
        }
        char ms[16];
        std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(timeUs / 1000 % 1000));
        out += cachedText;
        out += ms;
    }

private:
    time_t cachedSec = -1;
    std::string cachedText;
};

class batchChannel : public Poco::Channel {
public:
    // The writer lives as long as the process (loggers may write up to its very end), so the
    // object is never destroyed: see queue().
    batchChannel()
    {
        std::thread([this] { run(); }).detach();
    }

    void log(const Poco::Message& msg) override
    {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (queue.size() >= QUEUE_LIMIT) {
                ++dropped;
                return;
            }
            queue.push_back(
                {msg.getTime().epochMicroseconds(), msg.getPriority(), msg.getSource(), msg.getText()});
            wake = queue.size() == WAKE_AT;
        }
        if (wake) ready.notify_one();
    }

    // fd < 0: standard error. The previous file is closed once the lines queued for it are out.
    void setTarget(int newFd)
    {
        drain();
        std::lock_guard<std::mutex> lock(writeMutex);
        if (fd >= 0) ::close(fd);
        fd = newFd;
    }

    void drain()
    {
        std::unique_lock<std::mutex> lock(mutex);
        uint64_t wanted = queued();
        ready.notify_one();
        done.wait(lock, [&] { return written >= wanted; });
    }

private:
    std::mutex mutex;
    std::condition_variable ready;
    std::condition_variable done;
    std::vector<entry> queue;
    uint64_t taken = 0;    // lines moved out of the queue by the writer
    uint64_t written = 0;  // lines written
    uint64_t dropped = 0;
    std::mutex writeMutex;  // the target descriptor
    int fd = -1;
    stampCache stamps;

    uint64_t queued() const { return taken + queue.size(); }

    void run()
    {
        std::vector<entry> batch;
        std::string out;
        for (;;) {
            uint64_t lost = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                ready.wait_for(lock, ROUND);
                batch.swap(queue);
                taken += batch.size();
                lost = dropped;
                dropped = 0;
            }
            out.clear();
            for (const entry& e : batch) format(out, e);
            if (lost > 0) out += "(" + std::to_string(lost) + " log lines dropped)\n";
            write(out);
            {
                std::lock_guard<std::mutex> lock(mutex);
                written += batch.size();
            }
            done.notify_all();
            batch.clear();
        }
    }

    void format(std::string& out, const entry& e)
    {
        stamps.append(out, e.timeUs);
        out += ' ';
        out += priorityName(e.prio);
        out += ' ';
        out += e.source;
        out += ": ";
        appendEscaped(out, e.text);  // texts carry request values: see logEscape.h
        out += '\n';
    }

    void write(const std::string& out)
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        int target = fd >= 0 ? fd : STDERR_FILENO;
        size_t off = 0;
        while (off < out.size()) {
            ssize_t n = ::write(target, out.data() + off, out.size() - off);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;  // nowhere to report it: the log is the report
            off += static_cast<size_t>(n);
        }
    }
};

std::mutex frontMutex;
Poco::AutoPtr<batchChannel> front;

// The process-wide queue, made the first time it is needed.
batchChannel& queue()
{
    std::lock_guard<std::mutex> lock(frontMutex);
    if (front.isNull()) {
        front = new batchChannel;
        front->duplicate();  // one reference that is never given back: the writer thread uses it
    }
    return *front;
}

// Every logger writes to the queue, also one that was pointed elsewhere since the last cycle.
void installQueue()
{
    Poco::Channel::Ptr channel(&queue(), true);
    // The root logger first: loggers made later copy their channel from it.
    Poco::Logger::root().setChannel(channel);
    Poco::Logger::setChannel("", channel);
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
    int fd = -1;
    if (!file.empty()) {
        fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            throw Poco::OpenFileException("cannot open log file", file + ": " + pcudata::errnoText(errno));
    }
    queue().setTarget(fd);
    installQueue();
    int prio = priorityOf(level);
    if (prio < 0) prio = Poco::Message::PRIO_INFORMATION;
    Poco::Logger::root().setLevel(prio);
    Poco::Logger::setLevel("", prio);
}

void drain()
{
    queue().drain();
}

namespace {

void libraryLine(pcudata::libLog::level lvl, const std::string& text)
{
    Poco::Logger& log = Poco::Logger::get("fuelweb");
    switch (lvl) {
        case pcudata::libLog::error:
            log.error(text);
            break;
        case pcudata::libLog::warning:
            log.warning(text);
            break;
        case pcudata::libLog::notice:
            log.notice(text);
            break;
        case pcudata::libLog::info:
            log.information(text);
            break;
        default:
            log.debug(text);
            break;
    }
}

}  // namespace

void routeLibraryLines()
{
    pcudata::libLog::setSink(libraryLine);
}

}  // namespace weblog
}  // namespace azs_apps
