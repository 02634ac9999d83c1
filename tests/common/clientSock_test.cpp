#include "clientSock.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "timeSource.h"

#include "testSupport.h"

using namespace pcudata;

namespace {

// One-connection loopback server: accepts on a free port, plays a script to its client, then
// records whatever the client sends until the test ends or the client goes away.
class scriptServer {
public:
    enum kind_t { Send, Pause, HangUp, Stall };
    struct step {
        kind_t kind;
        std::string data;
        int ms;
    };
    static step say(const std::string& s) { return {Send, s, 0}; }
    static step pause(int ms) { return {Pause, "", ms}; }
    static step hangUp() { return {HangUp, "", 0}; }
    static step stall() { return {Stall, "", 0}; }  // keep the connection but never read

    explicit scriptServer(std::vector<step> script = {})
    {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listenFd, 4) != 0)
            ADD_FAILURE() << "cannot listen on loopback";
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len);
        portNo = ntohs(a.sin_port);
        worker = std::thread([this, script] { run(script); });
    }
    ~scriptServer()
    {
        stop = true;
        worker.join();
        ::close(listenFd);
    }
    uint32_t port() const { return portNo; }
    std::string received()
    {
        std::lock_guard<std::mutex> lk(m);
        return got;
    }
    bool clientGone() const { return gone; }

private:
    int listenFd = -1;
    uint32_t portNo = 0;
    std::atomic<bool> stop{false};
    std::atomic<bool> gone{false};
    std::mutex m;
    std::string got;
    std::thread worker;

    bool readable(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 5) > 0;
    }
    void run(std::vector<step> script)
    {
        while (!stop && !readable(listenFd)) {
        }
        if (stop) return;
        int fd = ::accept(listenFd, nullptr, nullptr);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        bool record = true;
        for (const step& s : script) {
            if (s.kind == Send) ::send(fd, s.data.data(), s.data.size(), MSG_NOSIGNAL);
            if (s.kind == Pause) std::this_thread::sleep_for(std::chrono::milliseconds(s.ms));
            if (s.kind == Stall) record = false;
            if (s.kind == HangUp) {
                ::close(fd);
                return;
            }
        }
        while (!stop && !gone) {
            if (!record || !readable(fd)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(record ? 0 : 5));
                continue;
            }
            char b[4096];
            ssize_t n = ::recv(fd, b, sizeof b, 0);
            if (n <= 0) gone = true;
            std::lock_guard<std::mutex> lk(m);
            if (n > 0) got.append(b, static_cast<size_t>(n));
        }
        ::close(fd);
    }
};

using testsupport::closedPort;

int64_t realMsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

using S = scriptServer;

// Compressed time that also adds up the nominal pauses taken, so tests can count retries exactly.
class countingSource : public scaledTimeSource {
public:
    explicit countingSource(double factor) : scaledTimeSource(factor) {}
    void sleepUs(int64_t us) override
    {
        sleptUs += us;
        scaledTimeSource::sleepUs(us);
    }
    int64_t sleptUs = 0;
};

}  // namespace

// Reassembly of lines from whatever segments arrive.
class ClientSockReadln : public ::testing::Test {};

TEST_F(ClientSockReadln, TwoLinesInOneSegmentNeedTwoCallsAndNoSecondWait)
{
    S srv({S::say("T1;A\nT2;B\n")});
    clientSock sock("127.0.0.1", srv.port());
    ASSERT_TRUE(sock.isConnected());
    EXPECT_EQ(sock.readln(), "T1;A");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.readln(), "T2;B");
    EXPECT_LT(realMsSince(start), 1000);  // a wait would last the whole 10 s budget
    EXPECT_EQ(sock.errCode(), 0);
}

TEST_F(ClientSockReadln, LineSplitOverThreeSegmentsIsReturnedWhole)
{
    S srv({S::say("T3;"), S::pause(30), S::say("S4,"), S::pause(30), S::say("V100\nnext")});
    clientSock sock("127.0.0.1", srv.port());
    EXPECT_EQ(sock.readln(), "T3;S4,V100");
    EXPECT_EQ(sock.errCode(), 0);
}

TEST_F(ClientSockReadln, LongRunWithoutLineFeedComesWholeAndNextCallStartsEmpty)
{
    const std::string run(5000, 'x');
    S srv({S::say(run), S::pause(50), S::say("next\n")});
    clientSock sock("127.0.0.1", srv.port());
    EXPECT_EQ(sock.readln(), run);  // ended on size, before the following segment
    EXPECT_EQ(sock.readln(), "next");
}

TEST_F(ClientSockReadln, PeerClosingMidLineGivesPartialLineAndMarksTheConnectionBroken)
{
    S srv({S::say("L1\nT4;ST="), S::hangUp()});
    clientSock sock("127.0.0.1", srv.port());
    EXPECT_EQ(sock.readln(), "L1");
    EXPECT_FALSE(sock.isPeerClosed());
    EXPECT_EQ(sock.readln(), "T4;ST=");
    EXPECT_TRUE(sock.isPeerClosed());
    EXPECT_EQ(sock.errCode(), 0);
    EXPECT_EQ(sock.readln(), "");
    EXPECT_TRUE(sock.hasError());
    EXPECT_EQ(sock.errCode(), ENOTCONN);
    EXPECT_TRUE(sock.isConnected());  // the owner decides when to disconnect
}

TEST_F(ClientSockReadln, NothingArrivingEndsAfterTheNominalBudgetWithoutError)
{
    scaledTimeSource fast(1000.0);
    timeSourceGuard guard(&fast);
    S srv;
    clientSock sock("127.0.0.1", srv.port());
    sock.errCode(99);
    int64_t nominalStart = timeSrc().nowUs();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.readln(), "");
    EXPECT_EQ(sock.errCode(), 0);
    EXPECT_GE(timeSrc().nowUs() - nominalStart, 10000000);
    EXPECT_LT(realMsSince(start), 1000);
    EXPECT_FALSE(sock.hasError());
}

TEST_F(ClientSockReadln, LineCutByAQuietSpellIsKeptUntilItsEndArrives)
{
    scaledTimeSource fast(1000.0);  // the 10 s budget lasts 10 ms
    timeSourceGuard guard(&fast);
    S srv({S::say("@0012PWORK;RES=1"), S::pause(100), S::say("2;\n")});
    clientSock sock("127.0.0.1", srv.port());
    EXPECT_EQ(sock.readln(), "");  // not "@0012PWORK;RES=1"
    EXPECT_EQ(sock.errCode(), 0);
    std::string line;
    for (int i = 0; i < 100 && line.empty(); ++i) line = sock.readln();
    EXPECT_EQ(line, "@0012PWORK;RES=12;");
}

TEST_F(ClientSockReadln, WrappedDescriptorReadsAndDisconnectedObjectLeavesErrorAlone)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    clientSock sock(pair[0]);
    ASSERT_TRUE(sock.isConnected());
    ASSERT_EQ(::send(pair[1], "D1\n", 3, 0), 3);
    EXPECT_EQ(sock.readln(), "D1");
    ::close(pair[1]);
    EXPECT_EQ(sock.disconnect(), 0);
    sock.errCode(42);
    EXPECT_EQ(sock.readln(), "");
    EXPECT_EQ(sock.errCode(), 42);
}

// Connection set-up, retries and teardown.
class ClientSockConnect : public ::testing::Test {};

TEST_F(ClientSockConnect, ClosedPortFailsAfterFourAttemptsWithTheRefusal)
{
    countingSource fast(1000.0);
    timeSourceGuard guard(&fast);
    clientSock sock;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.connect("127.0.0.1", closedPort()), -1);
    EXPECT_EQ(fast.sleptUs, 4500000);  // three pauses of 1.5 s between four attempts
    EXPECT_LT(realMsSince(start), 1000);
    EXPECT_EQ(sock.errCode(), ECONNREFUSED);
    EXPECT_FALSE(sock.isConnected());
    EXPECT_EQ(sock.fd(), -1);
}

// A listener that never accepts and whose queue is full drops further handshakes, as a host
// behind a silent firewall does.
TEST_F(ClientSockConnect, HandshakeThatNeverCompletesTimesOutPerAttempt)
{
    int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(lfd, reinterpret_cast<sockaddr*>(&a), len), 0);
    ASSERT_EQ(::listen(lfd, 0), 0);
    ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&a), len);
        fillers.push_back(f);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    countingSource fast(1000.0);  // 5 s per attempt last 5 ms
    timeSourceGuard guard(&fast);
    clientSock sock;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.connect("127.0.0.1", ntohs(a.sin_port)), -1);
    EXPECT_LT(realMsSince(start), 5000);
    EXPECT_EQ(sock.errCode(), ETIMEDOUT);
    EXPECT_EQ(fast.sleptUs, 4500000);
    EXPECT_EQ(sock.fd(), -1);
    for (int f : fillers) ::close(f);
    ::close(lfd);
}

TEST_F(ClientSockConnect, UnresolvableHostFailsAtOnceAndDropsTheOldConnection)
{
    countingSource fast(1000.0);
    timeSourceGuard guard(&fast);
    S srv;
    clientSock sock("127.0.0.1", srv.port());
    ASSERT_TRUE(sock.isConnected());
    EXPECT_EQ(sock.connect("no-such-host.invalid", 7), -1);
    EXPECT_EQ(fast.sleptUs, 0);  // neither the reconnect pause nor retry pauses
    EXPECT_EQ(sock.errCode(), EHOSTUNREACH);
    EXPECT_EQ(sock.getHost(), "no-such-host.invalid");
    EXPECT_FALSE(sock.isConnected());
    EXPECT_EQ(sock.fd(), -1);
}

TEST_F(ClientSockConnect, ReconnectDropsOldConnectionAndItsLeftoverText)
{
    countingSource fast(100.0);
    timeSourceGuard guard(&fast);
    S first({S::say("OLD1\nOLD2\nPART")});
    S second({S::pause(20), S::say("NEW1\n")});
    clientSock sock("127.0.0.1", first.port());
    EXPECT_EQ(sock.readln(), "OLD1");
    EXPECT_EQ(sock.connect("127.0.0.1", second.port()), 0);
    EXPECT_EQ(fast.sleptUs, 500000);  // the pause between dropping and reconnecting
    EXPECT_EQ(sock.readln(), "NEW1");
    for (int i = 0; i < 200 && !first.clientGone(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(first.clientGone());
}

TEST_F(ClientSockConnect, SuccessfulConnectClearsPeerClosedAndEnablesKeepAlive)
{
    S gone({S::hangUp()});
    S alive;
    clientSock sock("127.0.0.1", gone.port());
    EXPECT_EQ(sock.readln(), "");
    ASSERT_TRUE(sock.isPeerClosed());
    sock.disconnect();
    ASSERT_EQ(sock.connect("127.0.0.1", alive.port()), 0);
    EXPECT_FALSE(sock.isPeerClosed());
    EXPECT_FALSE(sock.hasError());
    int on = 0, probes = 0;
    socklen_t len = sizeof on;
    ::getsockopt(sock.fd(), SOL_SOCKET, SO_KEEPALIVE, &on, &len);
    ::getsockopt(sock.fd(), IPPROTO_TCP, TCP_KEEPCNT, &probes, &len);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(probes, 5);
    EXPECT_EQ(sock.enable_keepalive(-1), -1);
}

TEST_F(ClientSockConnect, DisconnectTwiceSecondReportsNoDescriptor)
{
    S srv;
    clientSock sock("127.0.0.1", srv.port());
    EXPECT_EQ(sock.disconnect(), 0);
    EXPECT_EQ(sock.disconnect(), -1);
    EXPECT_FALSE(sock.isConnected());
    EXPECT_TRUE(sock.hasError());
}

// Writing commands.
class ClientSockWrite : public ::testing::Test {};

TEST_F(ClientSockWrite, CommandReachesThePeerAndEmptyTextIsImmediate)
{
    S srv;
    clientSock sock("127.0.0.1", srv.port());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.write(""), 0);
    EXPECT_LT(realMsSince(start), 1000);
    EXPECT_EQ(sock.write("@!REGM;NUM=20;TYP=14;\n"), 0);
    for (int i = 0; i < 200 && srv.received().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(srv.received(), "@!REGM;NUM=20;TYP=14;\n");
}

TEST_F(ClientSockWrite, DisconnectedObjectFailsWithErrorUntouched)
{
    clientSock sock;
    sock.errCode(42);
    EXPECT_EQ(sock.write("@!ACFG\n"), 1);
    EXPECT_EQ(sock.errCode(), 42);
}

TEST_F(ClientSockWrite, PeerThatNeverReadsEndsTheWriteWhenTheBudgetIsSpent)
{
    scaledTimeSource fast(100.0);
    timeSourceGuard guard(&fast);
    S srv({S::stall()});
    clientSock sock("127.0.0.1", srv.port());
    int small = 4096;
    ::setsockopt(sock.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sock.write(std::string(16 << 20, 'w')), 1);
    EXPECT_EQ(sock.errCode(), ETIMEDOUT);
    EXPECT_LT(realMsSince(start), 1500);
}

TEST_F(ClientSockWrite, ClosedPeerGivesAnErrorNotASignal)
{
    S srv({S::hangUp()});
    clientSock sock("127.0.0.1", srv.port());
    EXPECT_EQ(sock.readln(), "");  // peer's close seen
    int rc = 0;
    for (int i = 0; i < 50 && rc == 0; ++i) {
        rc = sock.write("@!STOP;NUM=1;\n");
        if (rc == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(sock.errCode() == EPIPE || sock.errCode() == ECONNRESET) << sock.errCode();
}
