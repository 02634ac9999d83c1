#pragma once
// Receives every POCO logger's messages while it lives (synchronously, at debug level): the
// programs' modules log through POCO, and the tests read what a decision left in the log.
#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct logLine {
    std::string source;
    int prio;
    std::string text;
};

class logCapture {
public:
    logCapture() : channel(new sink)
    {
        Poco::Logger::root().setChannel(channel);
        Poco::Logger::setChannel("", channel);
        Poco::Logger::root().setLevel(Poco::Message::PRIO_DEBUG);
        Poco::Logger::setLevel("", Poco::Message::PRIO_DEBUG);
    }
    ~logCapture()
    {
        Poco::Channel::Ptr none;
        Poco::Logger::root().setChannel(none);
        Poco::Logger::setChannel("", none);
    }
    logCapture(const logCapture&) = delete;
    logCapture& operator=(const logCapture&) = delete;

    std::vector<logLine> lines() const
    {
        std::lock_guard<std::mutex> lock(channel->mutex);
        return channel->got;
    }
    // Texts logged under one module, optionally only at one priority (0: any).
    std::vector<std::string> texts(const std::string& source, int prio = 0) const
    {
        std::vector<std::string> out;
        for (const logLine& l : lines())
            if (l.source == source && (prio == 0 || l.prio == prio)) out.push_back(l.text);
        return out;
    }
    bool has(const std::string& source, int prio, const std::string& text) const
    {
        for (const std::string& t : texts(source, prio))
            if (t == text) return true;
        return false;
    }
    // A text of that module and priority holds part.
    bool hasPart(const std::string& source, int prio, const std::string& part) const
    {
        for (const std::string& t : texts(source, prio))
            if (t.find(part) != std::string::npos) return true;
        return false;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(channel->mutex);
        channel->got.clear();
    }

private:
    class sink : public Poco::Channel {
    public:
        void log(const Poco::Message& msg) override
        {
            std::lock_guard<std::mutex> lock(mutex);
            got.push_back({msg.getSource(), msg.getPriority(), msg.getText()});
        }
        mutable std::mutex mutex;
        std::vector<logLine> got;
    };
    Poco::AutoPtr<sink> channel;
};

}  // namespace testsupport
