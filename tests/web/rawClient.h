#pragma once
// A client that sends exactly the bytes a test gives it and reads answers as they come, for the
// tests of how the service frames requests and treats slow or broken clients.
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <string>

#include "loopbackClient.h"

namespace webtest {

struct rawAnswer {
    bool complete = false;  // a whole answer arrived
    std::string statusLine;
    int status = 0;
    std::string head;  // status line and fields
    std::string body;
};

class rawClient : public testsupport::loopbackClient {
public:
    using loopbackClient::loopbackClient;

    // The next answer (an interim 100 Continue counts as one), waiting up to timeoutMs. noBody: the
    // answer to HEAD, whose length field tells the length of a body that is not sent.
    rawAnswer read(int timeoutMs = 5000, bool noBody = false)
    {
        rawAnswer a;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos)
            if (!fill(deadline)) return a;
        a.head = pending.substr(0, end + 2);
        a.statusLine = a.head.substr(0, a.head.find("\r\n"));
        a.status = a.statusLine.size() > 12 ? std::atoi(a.statusLine.c_str() + 9) : 0;
        pending.erase(0, end + 4);
        size_t length = 0;
        std::string lower;
        for (char c : a.head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        size_t cl = lower.find("\r\ncontent-length:");
        if (cl != std::string::npos && !noBody) length = std::strtoul(a.head.c_str() + cl + 17, nullptr, 10);
        while (pending.size() < length)
            if (!fill(deadline)) return a;
        a.body = pending.substr(0, length);
        pending.erase(0, length);
        a.complete = true;
        return a;
    }

    // True when the service ends the connection within timeoutMs (bytes still coming are dropped).
    bool closedWithin(int timeoutMs)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        do pending.clear();
        while (fill(deadline));
        return eof;
    }
};

}  // namespace webtest
