#pragma once
// One client connection of the service. The request reader owns it while a request is being read
// (and while the connection idles between requests or is being closed); a worker owns it while
// it serves the request and writes the answer. The descriptor is non-blocking throughout and is
// closed with the object.
#include <cstdint>
#include <memory>
#include <string>

#include "httpRequest.h"
#include "requestParser.h"

namespace azs_apps {

class httpConnection {
public:
    // What the reader is doing with the connection.
    enum stage {
        reading,    // a request is expected or arriving: the read time-out runs
        idle,       // kept open after an answer: the keep-alive time-out runs
        lingering,  // answered for the last time: what the client still sends is read and dropped
    };

    httpConnection(int fd, std::string peer, const requestParser::limits& limits);
    ~httpConnection();
    httpConnection(const httpConnection&) = delete;
    httpConnection& operator=(const httpConnection&) = delete;

    int fd() const { return sock; }
    const std::string& peer() const { return peerName; }
    requestParser& parser() { return reqParser; }

    // Writes all bytes, waiting for the client to take them for at most budgetUs (nominal time).
    // False when the client has gone or is too slow.
    bool sendAll(const std::string& bytes, int64_t budgetUs);
    // Writes what the socket takes at once (a short answer from the reader's thread).
    bool trySend(const std::string& bytes);
    // No more bytes from this side: the client reads the answer to its end, then sees the end.
    void shutdownWrite();

    // --- the reader's bookkeeping --------------------------------------------------------
    stage state = reading;
    int64_t deadlineUs = 0;
    bool continueSent = false;
    size_t drained = 0;  // bytes dropped while lingering
    // The complete request, from the reader to the worker that serves it.
    std::unique_ptr<httpRequest> request;

private:
    int sock;
    std::string peerName;
    requestParser reqParser;
};

}  // namespace azs_apps
