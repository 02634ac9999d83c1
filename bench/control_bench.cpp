// Command round trips on the control port against the in-process simulator.
//
//   CommandRoundTrip: one controller session, REGM once, then GETPRS after GETPRS through
//                     get_price (line building, logging, write, line reading, reply parsing).
//   BarePingPong:     the same GETPRS line on a plain blocking socket to the same simulator,
//                     reading up to the line feed and nothing else: the floor set by the
//                     simulator and the loopback.
// The ratio of the two is the cost of the session layer. The loggers stay at the information
// level, as configured in production, with a channel that drops the text.
#include <Poco/Logger.h>
#include <Poco/NullChannel.h>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "pcuControl.h"
#include "pcuSimulator.h"

namespace {

const std::string PRICE_LINE = "@!GETPRS;PRD=92;PMT=8880;\n";

sim::pcuSimulator& simulator()
{
    static sim::pcuSimulator* pcu = [] {
        sim::stationConfig cfg = sim::defaultStation();
        cfg.repeatMs = 0;
        cfg.autoDriverTicks = 0;
        auto* p = new sim::pcuSimulator(cfg);
        p->start();
        return p;
    }();
    return *pcu;
}

void quietLoggers()
{
    Poco::AutoPtr<Poco::NullChannel> none(new Poco::NullChannel);
    for (const char* name : {"fuelweb/ctl", "fuelweb/\xD1\x81tl"}) {
        Poco::Logger& lg = Poco::Logger::get(name);
        lg.setChannel(none);
        lg.setLevel(Poco::Message::PRIO_INFORMATION);
    }
}

void CommandRoundTrip(benchmark::State& state)
{
    quietLoggers();
    pcudata::pcuControl ctl("127.0.0.1", simulator().ctlPort());
    pcudata::cntlMsgResult res;
    int err = 0;
    pcudata::cmdMsgResult_clear(res);
    if (ctl.register_wrkplace(res, err) != 1) {
        state.SkipWithError("registration failed");
        return;
    }
    for (auto _ : state) {
        if (ctl.get_price(res, err, 92, 8880) != 1) {
            state.SkipWithError("GETPRS failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// Writes a line and reads up to its line feed; false when the connection failed.
bool pingPong(int fd, const std::string& line, std::string& reply)
{
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) return false;
    reply.clear();
    char buf[1024];
    while (reply.empty() || reply.back() != '\n') {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        reply.append(buf, static_cast<size_t>(n));
    }
    return true;
}

int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void BarePingPong(benchmark::State& state)
{
    const int fd = connectLoopback(simulator().ctlPort());
    std::string reply;
    if (fd < 0 || !pingPong(fd, "@!REGM;NUM=20;TYP=14;\n", reply)) {
        state.SkipWithError("no connection");
        if (fd >= 0) ::close(fd);
        return;
    }
    for (auto _ : state) {
        if (!pingPong(fd, PRICE_LINE, reply)) {
            state.SkipWithError("ping-pong failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    ::close(fd);
}

}  // namespace

BENCHMARK(CommandRoundTrip)->UseRealTime();
BENCHMARK(BarePingPong)->UseRealTime();

BENCHMARK_MAIN();
