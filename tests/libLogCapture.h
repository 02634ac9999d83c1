#pragma once
// Collects the shared library's log lines (libLog) while it lives; the default sink is back
// afterwards. One at a time per test program.
#include <mutex>
#include <string>
#include <vector>

#include "libLog.h"

namespace testsupport {

class libLogCapture {
public:
    struct line {
        pcudata::libLog::level level;
        std::string text;
    };

    libLogCapture()
    {
        std::lock_guard<std::mutex> lock(mutex());
        store().clear();
        pcudata::libLog::setSink(&libLogCapture::take);
    }
    ~libLogCapture() { pcudata::libLog::setSink(nullptr); }
    libLogCapture(const libLogCapture&) = delete;
    libLogCapture& operator=(const libLogCapture&) = delete;

    std::vector<line> lines() const
    {
        std::lock_guard<std::mutex> lock(mutex());
        return store();
    }
    // Every text, each followed by a line feed.
    std::string text() const
    {
        std::string all;
        for (const line& l : lines()) all += l.text + "\n";
        return all;
    }

private:
    static void take(pcudata::libLog::level lvl, const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex());
        store().push_back({lvl, text});
    }
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<line>& store()
    {
        static std::vector<line> lines;
        return lines;
    }
};

}  // namespace testsupport
