#pragma once
// Helpers of the monitor tests: a private shared segment, a hand-driven clock and log capture.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "testSupport.h"
#include "timeSource.h"
#include "trkState.h"

namespace montest {

// A key file of its own under /tmp, so that the segment belongs to this test alone; the segment
// and the file are removed afterwards.
class tempKeyFile {
public:
    tempKeyFile()
    {
        char name[] = "/tmp/montest_keyXXXXXX";
        int fd = ::mkstemp(name);
        if (fd >= 0) ::close(fd);
        path = name;
    }
    ~tempKeyFile()
    {
        removeSegment(path);
        ::unlink(path.c_str());
    }
    static void removeSegment(const std::string& keyPath) { testsupport::removeSegment(keyPath); }
    std::string path;
};

using manualClock = testsupport::manualClock;

// Catches what runner::log writes to standard output and standard error.
class logCapture {
public:
    logCapture() : oldOut(std::cout.rdbuf(out.rdbuf())), oldErr(std::cerr.rdbuf(err.rdbuf())) {}
    ~logCapture()
    {
        std::cout.rdbuf(oldOut);
        std::cerr.rdbuf(oldErr);
    }
    std::string outText() const { return out.str(); }
    std::string errText() const { return err.str(); }
    static size_t count(const std::string& text, const std::string& what)
    {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
            ++n;
        return n;
    }

private:
    std::ostringstream out, err;
    std::streambuf* oldOut;
    std::streambuf* oldErr;
};

}  // namespace montest
