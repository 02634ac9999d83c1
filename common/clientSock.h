#pragma once
// TCP client for the controller's text ports: connection retries, keep-alive, bounded waits and the
// reassembly of line-feed terminated records from arbitrary TCP segments.
//
// The monitor daemon owns one to follow the monitoring stream; the web service's controller session
// derives from it, so the class has no virtual functions and keeps its fields reachable by derived
// classes. One thread uses an object at a time; nothing here is locked.
//
// Behaviour worth knowing before using it:
// - connect() resolves the host with getaddrinfo (IPv4 only). A host that does not resolve, or a
//   port above 65535, fails at once with -1 and error EHOSTUNREACH or EINVAL: no socket, no attempt,
//   no pause. An object that was connected is disconnected in that case.
// - A read of 0 bytes means the peer has closed. readln() still reports it as "nothing more, error
//   0" (a command reply cut short reads as no reply), but isPeerClosed() turns true and hasError()
//   reports the connection as broken with ENOTCONN, so owners that test hasError() reconnect
//   instead of writing into a dead connection. A successful connect() clears the mark.
// - Each connect attempt waits at most 5 s for the handshake (ETIMEDOUT), so a host that drops
//   packets costs bounded time instead of the kernel's two-minute SYN time-out per attempt.
// - write() spends at most 5 s waiting for the socket to take the bytes; when the budget is gone it
//   returns 1 with error ETIMEDOUT. Writes never raise SIGPIPE: a closed peer gives EPIPE.
// - Waits interrupted by a signal (EINTR) are resumed with the time left in their budget.
// - Text left over from an earlier connection is dropped by a successful connect(), so a partial
//   or unread line of a dead connection never joins the first line of the next one.
// - When the 10 s budget of readln() runs out in the middle of a line, the start of the line stays
//   pending and readln() returns empty (error 0); the next call completes it. Handing the start out
//   as a line would let a cut line pass for a shorter valid one.
// - Budgets are nominal microseconds of pcudata::timeSrc(), so tests can compress them.
#include <netinet/in.h>

#include <cstdint>
#include <string>

namespace pcudata {

class clientSock {
public:
    clientSock();
    // Stores host and port and connects at once; test isConnected() afterwards.
    clientSock(const std::string& host, uint32_t port);
    // Takes over an already connected descriptor; the object closes it.
    explicit clientSock(int descriptor);
    ~clientSock();
    // The object owns a descriptor: a copy would close it twice.
    clientSock(const clientSock&) = delete;
    clientSock& operator=(const clientSock&) = delete;

    // 0 connected; -1 name resolution or every attempt (4, 1.5 s apart) failed; 1 no socket.
    int connect(const std::string& host, uint32_t port);
    // 0, or -1 when there is no descriptor. Resets the connection rather than waiting for a FIN
    // exchange.
    int disconnect();

    // 0 when every byte was written, 1 otherwise (not connected: error code untouched).
    int write(const std::string& text);
    // Next line without its line feed; a partial line when the peer closes or a read fails; more
    // than 4095 bytes without a line feed as they are; empty when no whole line arrived in 10 s.
    std::string readln();
    // Everything that arrives within 5 s or until the peer closes.
    std::string read();
    // One line read byte by byte (stops at a line feed or NUL, after 1024 bytes, or after 5 s).
    std::string readln_byte();

    // True when there is no descriptor, the socket holds an error, or the peer has closed.
    bool hasError();
    int errCode() const { return errcode; }
    void errCode(int code) { errcode = code; }
    void errClear() { errcode = 0; }

    // Keep-alive with 1 s idle, 1 s interval, 5 probes. 0, or -1 when an option was refused: the
    // refused options (failure bits 16, 32, 64, 128) and the system's reasons go to the log
    // (libLog, warning) and errcode holds the first refusal's error number.
    int enable_keepalive(int descriptor);
    // Address reuse, port reuse, linger 2 s. Failure bits 1, 2, 4; reported as enable_keepalive.
    int enable_reuseopts(int descriptor);

    const std::string& getHost() const { return host; }
    uint32_t getPort() const { return port; }
    void setHost(const std::string& h) { host = h; }
    void setPort(uint32_t p) { port = p; }
    bool isConnected() const { return connected; }
    int fd() const { return sockfd; }
    bool isPeerClosed() const { return peerClosed; }

protected:
    std::string host;
    uint32_t port = 0;
    bool connected = false;
    int sockfd = -1;
    sockaddr_in addr{};
    char buf[1024] = {};
    std::string pending;
    int errcode = 0;
    int connRetries = 3;
    int retryPauseUs = 1500000;
    bool peerClosed = false;

    int _resolve(const std::string& name, uint32_t portNo);
    int _attemptConnect();
    int _connectOnce();
    int _finishConnect();
    void _renewSocket();
    void _reportRenewal(const char* what, int e);
    int _waitFor(short events, int64_t deadlineUs);
    int _waitReadable(int64_t deadlineUs, int& failures);
    int _appendPending(const char* data, size_t len);
    void _closeSocket();
};

}  // namespace pcudata
