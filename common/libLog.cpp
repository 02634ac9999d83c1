#include "libLog.h"

#include <atomic>
#include <cstring>

#include "runner.h"

namespace pcudata {
namespace libLog {

namespace {

void toRunnerLog(level lvl, const std::string& text)
{
    if (lvl <= warning)
        runner::log(text, runner::err);
    else if (lvl == debug)
        runner::log(text, runner::debug1);
    else
        runner::log(text, runner::out);
}

std::atomic<sink> current{nullptr};

}  // namespace

void setSink(sink s)
{
    current.store(s);
}

void write(level lvl, const std::string& text)
{
    if (text.empty()) return;
    sink s = current.load();
    (s != nullptr ? s : toRunnerLog)(lvl, text);
}

}  // namespace libLog

std::string errnoText(int e)
{
    const char* name = ::strerrorname_np(e);
    char buf[256];
    // The GNU strerror_r: thread-safe, returns the text (not always in buf).
    const char* text = ::strerror_r(e, buf, sizeof buf);
    return std::string(name != nullptr ? name : "errno " + std::to_string(e)) + " (" + text + ")";
}

}  // namespace pcudata
