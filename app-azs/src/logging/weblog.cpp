#include "weblog.h"

#include <Poco/Channel.h>
#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "errorLines.h"
#include "heartbeat.h"
#include "libLog.h"
#include "lineQueue.h"
#include "logEscape.h"

namespace azs_apps {
namespace weblog {

namespace {

// Bytes of lines that may wait for the writer; beyond that lines are dropped (and counted) rather
// than letting a stalled disk eat the memory.
constexpr size_t QUEUE_BYTES = 16 * 1024 * 1024;
constexpr auto ROUND = std::chrono::milliseconds(50);
// The writer's buffer keeps this much between rounds.
constexpr size_t KEEP_BYTES = 1024 * 1024;

// " Information " and the like: the level's name between the stamp and the source.
struct levelName {
    const char* text;
    size_t size;
};
levelName levelOf(int prio)
{
    static const levelName names[] = {
        {"  ", 2},       {" Fatal ", 7},        {" Critical ", 10}, {" Error ", 7}, {" Warning ", 9},
        {" Notice ", 8}, {" Information ", 13}, {" Debug ", 7},     {" Trace ", 7}};
    return prio >= 1 && prio <= 8 ? names[prio] : names[0];
}

constexpr size_t STAMP_SIZE = 23;  // "2024-03-05 14:07:09.123"

// Local time of one second, converted once per second on each thread. Plain data: the stamp of a
// line is written on the thread that logs it.
struct stampCache {
    time_t sec;
    char text[STAMP_SIZE];
};
thread_local stampCache stamp{-1, {}};

// The last `count` decimal digits of a non-negative value.
void putDigits(char* at, int count, int value)
{
    for (int i = count - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
}

// Writes the stamp of timeUs to at (STAMP_SIZE characters).
void writeStamp(char* at, int64_t timeUs)
{
    const time_t sec = static_cast<time_t>(timeUs / 1000000);
    if (sec != stamp.sec) {
        struct tm tm {};
        localtime_r(&sec, &tm);
        char* t = stamp.text;  // "YYYY-MM-DD HH:MM:SS."
        putDigits(t, 4, tm.tm_year + 1900);
        t[4] = '-';
        putDigits(t + 5, 2, tm.tm_mon + 1);
        t[7] = '-';
        putDigits(t + 8, 2, tm.tm_mday);
        t[10] = ' ';
        putDigits(t + 11, 2, tm.tm_hour);
        t[13] = ':';
        putDigits(t + 14, 2, tm.tm_min);
        t[16] = ':';
        putDigits(t + 17, 2, tm.tm_sec);
        t[19] = '.';
        stamp.sec = sec;
    }
    std::memcpy(at, stamp.text, STAMP_SIZE - 3);
    putDigits(at + STAMP_SIZE - 3, 3, static_cast<int>(timeUs / 1000 % 1000));
}

// "2024-03-05 14:07:09.123 Information fuelweb/ping: text"
void formatLine(std::string& out, const Poco::Message& msg)
{
    const levelName level = levelOf(msg.getPriority());
    const std::string& source = msg.getSource();
    char head[STAMP_SIZE + 16 + 64 + 2];
    if (source.size() > 64) {
        writeStamp(head, msg.getTime().epochMicroseconds());
        out.append(head, STAMP_SIZE);
        out.append(level.text, level.size);
        out += source;
        out += ": ";
    } else {
        char* at = head;
        writeStamp(at, msg.getTime().epochMicroseconds());
        at += STAMP_SIZE;
        std::memcpy(at, level.text, level.size);
        at += level.size;
        std::memcpy(at, source.data(), source.size());
        at += source.size();
        *at++ = ':';
        *at++ = ' ';
        out.append(head, static_cast<size_t>(at - head));
    }
    appendEscaped(out, msg.getText());  // texts carry request values: see logEscape.h
    out += '\n';
}

// The error lines of the whole process, for the operator's page.
errorLines& recent()
{
    static errorLines* lines = new errorLines;  // loggers may write up to the process's very end
    return *lines;
}

class batchChannel : public Poco::Channel {
public:
    // The writer lives as long as the process (loggers may write up to its very end), so the
    // object is never destroyed: see queue().
    batchChannel() : lines(QUEUE_BYTES, [this] { wake(); })
    {
        std::thread([this] { run(); }).detach();
    }

    // The line is formatted here, on the thread that logs it, straight into that thread's buffer.
    void log(const Poco::Message& msg) override
    {
        lines.push([&msg](std::string& out) { formatLine(out, msg); });
        if (msg.getPriority() <= Poco::Message::PRIO_ERROR) {
            std::string line;
            formatLine(line, msg);
            line.pop_back();  // the line feed
            recent().add(std::move(line));
        }
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
        const uint64_t wanted = lines.queued();
        roundWanted = true;
        ready.notify_one();
        done.wait(lock, [&] { return written >= wanted; });
    }

private:
    lineQueue lines;
    std::mutex mutex;  // the three fields below
    std::condition_variable ready;
    std::condition_variable done;
    bool roundWanted = false;
    uint64_t written = 0;   // every line numbered below this one is written
    std::mutex writeMutex;  // the target descriptor
    int fd = -1;

    void wake()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            roundWanted = true;
        }
        ready.notify_one();
    }

    // Every round, busy or idle, stamps the writer's heartbeat: a write that never returns (a
    // disk gone) silences it.
    void run()
    {
        pcudata::heartbeat beat("log writer");
        std::string out;
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                ready.wait_for(lock, ROUND, [this] { return roundWanted; });
                roundWanted = false;
            }
            beat.stamp();
            out.clear();
            const uint64_t through = lines.collect(out);
            const size_t lineBytes = out.size();
            if (uint64_t lost = lines.takeDropped())
                out += "(" + std::to_string(lost) + " log lines dropped)\n";
            write(out);
            lines.release(lineBytes);
            {
                std::lock_guard<std::mutex> lock(mutex);
                written = through;
            }
            done.notify_all();
            if (out.capacity() > KEEP_BYTES) std::string().swap(out);
        }
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

std::vector<std::string> recentErrors()
{
    return recent().last();
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
