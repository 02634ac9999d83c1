#pragma once
// The front of the service: one thread that accepts connections and reads requests from all of
// them at once with poll(), so that no worker ever waits for a client. A request goes to the
// workers only once it has arrived whole; a client that sends nothing or sends slowly occupies a
// place in this thread's table and nothing else, and loses it when its time is up:
//   - a request (head and body) must arrive within the read time-out, counted from the connection
//     (first request) or from its first byte (later requests); otherwise 408 and the connection
//     is closed;
//   - a kept-alive connection may stay idle for the keep-alive time-out, then it is closed;
//   - malformed requests are refused at once with their status (see requestParser), and so are
//     requests that find the workers' queue full (503).
// A connection that gets its last answer is closed gently: this side stops writing and reads
// (and drops) what the client still sends for a short while, so the answer is not destroyed by a
// reset. At most maxConnections connections are held; beyond that, idle and closing ones make
// room first, then new connections wait in the listening queue.
#include <Poco/Logger.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "httpConnection.h"
#include "requestParser.h"

namespace azs_apps {

class requestReader {
public:
    struct settings {
        int64_t readTimeoutUs = 5000000;
        int64_t keepAliveUs = 5000000;
        size_t maxConnections = 512;
        requestParser::limits limits;
    };
    // Takes a connection whose request is complete. False leaves the connection to the reader,
    // which answers 503.
    using handOff = std::function<bool(std::unique_ptr<httpConnection>&)>;

    requestReader(const settings& s, handOff toWorkers);
    // stop()
    ~requestReader();
    requestReader(const requestReader&) = delete;
    requestReader& operator=(const requestReader&) = delete;

    // Starts the thread on a bound and listening socket; the caller keeps it open until
    // stopListening() has returned.
    void start(int listenFd);
    // Accepts no more connections; once it returns the reader no longer touches the listening
    // socket, which the caller may close. Connections already held are still served.
    void stopListening();
    // Closes every connection the reader holds and ends its thread. Connections given back later
    // are closed at once.
    void stop();

    // From a worker, once the connection's answer is written: keepOpen reads the next request on
    // it, otherwise it is closed gently.
    void giveBack(std::unique_ptr<httpConnection> conn, bool keepOpen);

    // Connections held at the moment (for tests and the log).
    size_t held() const;

private:
    settings cfg;
    handOff toWorkers;
    Poco::Logger& log;
    std::thread thread;
    int listenFd = -1;
    int wakeFd = -1;
    int64_t acceptPausedUntil = 0;  // after running out of descriptors
    int64_t lastPauseLogUs = INT64_MIN / 2;

    mutable std::mutex mutex;  // the fields below
    std::condition_variable changed;
    std::vector<std::pair<std::unique_ptr<httpConnection>, bool>> inbox;
    bool listening = false;
    bool stopping = false;
    bool running = false;
    size_t heldCount = 0;

    std::vector<std::unique_ptr<httpConnection>> conns;  // the reader thread's own

    void run();
    void wake();
    void takeInbox(int64_t now);
    void acceptNew(int lfd, int64_t now);
    void dropClosed();
    void makeRoom();
    void onReadable(std::unique_ptr<httpConnection>& conn, int64_t now);
    void advance(std::unique_ptr<httpConnection>& conn, int64_t now);
    void expire(int64_t now);
    void refuse(std::unique_ptr<httpConnection>& conn, int status, const std::string& why, int64_t now);
    void linger(httpConnection& conn, int64_t now);
    int64_t nextDeadline() const;
};

}  // namespace azs_apps
