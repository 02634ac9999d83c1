#include "logCapture.h"

namespace ctltest {

const char* const LOG_CTL = "fuelweb/ctl";
const char* const LOG_CTL_CYR = "fuelweb/\xD1\x81tl";
const char* const LOG_FUELING = "fuelweb/fueling";
const char* const LOG_ORDER = "fuelweb/order";

void logSink::log(const Poco::Message& msg)
{
    std::lock_guard<std::mutex> g(mu);
    got.push_back({msg.getSource(), msg.getPriority(), msg.getText()});
}

std::vector<logLine> logSink::lines()
{
    std::lock_guard<std::mutex> g(mu);
    return got;
}

logCapture::logCapture() : sink(new logSink)
{
    for (const char* name : {LOG_CTL, LOG_CTL_CYR, LOG_FUELING, LOG_ORDER}) {
        Poco::Logger& lg = Poco::Logger::get(name);
        previous.push_back({&lg, lg.getChannel(), lg.getLevel()});
        lg.setChannel(sink);
        lg.setLevel(Poco::Message::PRIO_DEBUG);
    }
}

logCapture::~logCapture()
{
    for (const saved& s : previous) {
        s.logger->setChannel(s.channel);
        s.logger->setLevel(s.level);
    }
}

std::vector<std::string> logCapture::texts(const std::string& source, int prio)
{
    std::vector<std::string> out;
    for (const logLine& l : lines()) {
        if (l.source == source && (prio == 0 || l.prio == prio)) out.push_back(l.text);
    }
    return out;
}

bool logCapture::has(const std::string& source, int prio, const std::string& text)
{
    for (const std::string& t : texts(source, prio)) {
        if (t == text) return true;
    }
    return false;
}

}  // namespace ctltest
