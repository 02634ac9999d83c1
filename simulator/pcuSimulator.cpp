#include "pcuSimulator.h"

#include <poll.h>
#include <cerrno>
#include <chrono>

#include "monitorLines.h"
#include "replyCodes.h"

namespace sim {

namespace {

int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string withLineFeed(const std::string& text)
{
    return !text.empty() && text.back() == '\n' ? text : text + "\n";
}

}  // namespace

pcuSimulator::pcuSimulator(const stationConfig& cfg)
{
    st.reset(cfg);
    lastSent.resize(st.pumps.size());
    history.resize(st.pumps.size());
    for (size_t i = 0; i < st.pumps.size(); ++i) history[i].push_back(st.pumps[i].st.status);
}

pcuSimulator::~pcuSimulator()
{
    stop();
}

int pcuSimulator::start(int monPort, int ctlPort)
{
    if (acceptThread.joinable()) return EALREADY;
    stopping.reset();
    int err = monListen.open(monPort);
    if (err == 0) err = ctlListen.open(ctlPort);
    if (err != 0) {
        monListen.close();
        ctlListen.close();
        return err;
    }
    lastRepeatMs = steadyMs();
    acceptThread = std::thread([this] { acceptLoop(); });
    tickThread = std::thread([this] { tickLoop(); });
    return 0;
}

void pcuSimulator::stop()
{
    if (!acceptThread.joinable()) return;
    stopping.raise();
    acceptThread.join();
    tickThread.join();
    {
        std::lock_guard<std::mutex> g(connMtx);
        conns.clear();  // each connection shuts down and joins its thread
    }
    hub.closeAll();
    monListen.close();
    ctlListen.close();
}

stationConfig pcuSimulator::config() const
{
    std::lock_guard<std::mutex> g(mtx);
    return st.cfg;
}

// --- threads ---

void pcuSimulator::acceptLoop()
{
    pollfd fds[3] = {
        {monListen.fd(), POLLIN, 0}, {ctlListen.fd(), POLLIN, 0}, {stopping.pollFd(), POLLIN, 0}};
    while (!stopping.raised()) {
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) break;
        if (fds[2].revents) break;
        if (fds[0].revents & POLLIN) {
            int fd = monListen.accept();
            if (fd >= 0) onMonitorClient(fd);
        }
        if (fds[1].revents & POLLIN) {
            int fd = ctlListen.accept();
            if (fd >= 0) onControlClient(fd);
        }
    }
}

void pcuSimulator::tickLoop()
{
    int tickMs = config().tickMs;
    while (stopping.sleepMs(tickMs)) {
        std::lock_guard<std::mutex> g(mtx);
        int64_t now = steadyMs();
        for (simPump& p : st.pumps) p.tick(st.cfg, now);
        if (st.cfg.repeatMs > 0 && now - lastRepeatMs >= st.cfg.repeatMs) {
            lastRepeatMs = now;
            repeatLocked();
        }
        publishLocked();
    }
}

void pcuSimulator::onMonitorClient(int fd)
{
    std::lock_guard<std::mutex> g(mtx);
    hub.add(fd, initialLines());
}

void pcuSimulator::onControlClient(int fd)
{
    std::lock_guard<std::mutex> g(connMtx);
    for (auto it = conns.begin(); it != conns.end();) it = (*it)->finished() ? conns.erase(it) : it + 1;
    auto handler = [this](controlSession& s, const std::string& line) { return onControlLine(s, line); };
    conns.push_back(std::make_unique<controlConnection>(fd, handler, stopping));
}

controlOutcome pcuSimulator::onControlLine(controlSession& s, const std::string& line)
{
    controlOutcome out;
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> g(mtx);
        out = handleControlLine(st, s, line);
        publishLocked();
        hook = afterCommand;
    }
    if (hook) hook(line);
    return out;
}

void pcuSimulator::setAfterCommand(std::function<void(const std::string& line)> hook)
{
    std::lock_guard<std::mutex> g(mtx);
    afterCommand = std::move(hook);
}

// --- monitoring lines ---

std::vector<std::string> pcuSimulator::initialLines() const
{
    std::vector<std::string> lines{driverLine(st.cfg.driverVersion),
                                   maskLine('E', 0, pumpMask(st.cfg, &simPumpConfig::autoStart)),
                                   maskLine('E', 2, pumpMask(st.cfg, &simPumpConfig::flagE2)),
                                   maskLine('Y', 0, pumpMask(st.cfg, &simPumpConfig::autoCafe))};
    for (const simPump& p : st.pumps) lines.push_back(pumpLine(p.st));
    return lines;
}

void pcuSimulator::publishLocked()
{
    for (size_t i = 0; i < st.pumps.size(); ++i) {
        std::string line = pumpLine(st.pumps[i].st);
        if (line == lastSent[i]) continue;
        hub.broadcast(line);
        lastSent[i] = line;
        if (history[i].back() != st.pumps[i].st.status) history[i].push_back(st.pumps[i].st.status);
    }
}

void pcuSimulator::repeatLocked()
{
    hub.broadcast(driverLine(st.cfg.driverVersion));
    for (size_t i = 0; i < st.pumps.size(); ++i) {
        lastSent[i] = pumpLine(st.pumps[i].st);
        hub.broadcast(lastSent[i]);
    }
}

void pcuSimulator::broadcastFlagsLocked()
{
    hub.broadcast(maskLine('E', 0, pumpMask(st.cfg, &simPumpConfig::autoStart)));
    hub.broadcast(maskLine('E', 2, pumpMask(st.cfg, &simPumpConfig::flagE2)));
    hub.broadcast(maskLine('Y', 0, pumpMask(st.cfg, &simPumpConfig::autoCafe)));
}

// --- pump access ---

void pcuSimulator::withPump(int n, const std::function<void(simPump&)>& action)
{
    std::lock_guard<std::mutex> g(mtx);
    simPump* p = st.pump(n);
    if (!p) return;
    action(*p);
    publishLocked();
}

pumpState pcuSimulator::pump(int n) const
{
    std::lock_guard<std::mutex> g(mtx);
    for (const simPump& p : st.pumps)
        if (p.st.trk == n) return p.st;
    return pumpState{};
}

void pcuSimulator::liftNozzle(int n)
{
    withPump(n, [](simPump& p) { p.lift(); });
}

void pcuSimulator::hangNozzle(int n)
{
    withPump(n, [](simPump& p) { p.hang(); });
}

int pcuSimulator::startLocalDelivery(int n, int prodCode, int64_t volumeMl)
{
    std::lock_guard<std::mutex> g(mtx);
    simPump* p = st.pump(n);
    if (!p) return rc::badPump;
    presetOrder o;
    o.prodCode = prodCode;
    o.volumeMl = volumeMl;
    o.wplace = st.cfg.cashWplace;
    int res = p->startLocal(o, st.nextTrannum);
    if (res == rc::ok) ++st.nextTrannum;
    publishLocked();
    return res;
}

void pcuSimulator::pauseDelivery(int n)
{
    withPump(n, [](simPump& p) { p.pause(); });
}

void pcuSimulator::resumeDelivery(int n)
{
    withPump(n, [](simPump& p) { p.resume(); });
}

void pcuSimulator::setPumpStatus(int n, int status)
{
    withPump(n, [status](simPump& p) { p.force(status); });
}

void pcuSimulator::flashStatus(int n, int status, int ms)
{
    int64_t until = steadyMs() + ms;
    withPump(n, [status, until](simPump& p) { p.flash(status, until); });
}

void pcuSimulator::editPump(int n, const std::function<void(pumpState&)>& edit)
{
    withPump(n, [&edit](simPump& p) { edit(p.st); });
}

void pcuSimulator::setPumpFlags(int n, int autoStart, int flagE2, int autoCafe)
{
    std::lock_guard<std::mutex> g(mtx);
    for (simPumpConfig& p : st.cfg.pumps) {
        if (p.num != n) continue;
        p.autoStart = autoStart;
        p.flagE2 = flagE2;
        p.autoCafe = autoCafe;
    }
    broadcastFlagsLocked();
}

void pcuSimulator::setDriverVersion(int version)
{
    std::lock_guard<std::mutex> g(mtx);
    st.cfg.driverVersion = version;
    hub.broadcast(driverLine(version));
}

void pcuSimulator::setNeverLift(int n, bool on)
{
    withPump(n, [on](simPump& p) { p.faults.neverLift = on; });
}

void pcuSimulator::setZeroVolume(int n, bool on)
{
    withPump(n, [on](simPump& p) { p.faults.zeroVolume = on; });
}

void pcuSimulator::setOverfill(int n, int64_t extraMl)
{
    withPump(n, [extraMl](simPump& p) { p.faults.overfillMl = extraMl; });
}

void pcuSimulator::resetAt(int n, int64_t atVolumeMl, int status)
{
    withPump(n, [atVolumeMl, status](simPump& p) {
        p.faults.resetAtMl = atVolumeMl;
        p.faults.resetStatus = status;
    });
}

// --- control-port faults ---

void pcuSimulator::injectFault(const commandFault& f)
{
    std::lock_guard<std::mutex> g(mtx);
    st.faults.add(f);
}

void pcuSimulator::refuseNext(const std::string& cmd, int res, const std::string& tcod,
                              const std::string& txt)
{
    commandFault f;
    f.cmd = cmd;
    f.res = res;
    f.tcod = tcod;
    f.txt = txt;
    injectFault(f);
}

void pcuSimulator::delayNext(const std::string& cmd, int ms)
{
    commandFault f;
    f.cmd = cmd;
    f.delayMs = ms;
    injectFault(f);
}

void pcuSimulator::dropNext(const std::string& cmd)
{
    commandFault f;
    f.cmd = cmd;
    f.drop = true;
    injectFault(f);
}

void pcuSimulator::intermediateNext(const std::string& cmd, int count, int res)
{
    commandFault f;
    f.cmd = cmd;
    f.intermediate = count;
    f.intermediateRes = res;
    injectFault(f);
}

void pcuSimulator::closeOnNext(const std::string& cmd)
{
    commandFault f;
    f.cmd = cmd;
    f.closeBefore = true;
    injectFault(f);
}

void pcuSimulator::rawReplyNext(const std::string& cmd, const std::string& text)
{
    commandFault f;
    f.cmd = cmd;
    f.hasRaw = true;
    f.raw = text;
    injectFault(f);
}

void pcuSimulator::clearFaults()
{
    std::lock_guard<std::mutex> g(mtx);
    st.faults.clear();
}

// --- connections ---

void pcuSimulator::closeControlConnections()
{
    std::lock_guard<std::mutex> g(connMtx);
    for (auto& c : conns) c->shutdown();
}

void pcuSimulator::closeMonitorConnections()
{
    hub.closeAll();
}

void pcuSimulator::sendRawControlLine(const std::string& text)
{
    std::lock_guard<std::mutex> g(connMtx);
    for (auto& c : conns)
        if (!c->finished()) c->send(withLineFeed(text));
}

void pcuSimulator::sendRawMonitorLine(const std::string& text)
{
    hub.broadcastRaw(withLineFeed(text));
}

void pcuSimulator::setMonitorSilent(bool on)
{
    hub.setSilent(on);
}

size_t pcuSimulator::controlClients() const
{
    std::lock_guard<std::mutex> g(connMtx);
    size_t n = 0;
    for (const auto& c : conns) n += c->finished() ? 0 : 1;
    return n;
}

// --- record and waits ---

std::vector<std::string> pcuSimulator::receivedControlLines() const
{
    std::lock_guard<std::mutex> g(mtx);
    return st.received;
}

std::vector<std::string> pcuSimulator::receivedCommands(const std::string& cmd) const
{
    std::string prefix = "@!" + cmd;
    std::vector<std::string> out;
    for (const std::string& l : receivedControlLines()) {
        bool named = l.compare(0, prefix.size(), prefix) == 0;
        if (named && (l.size() == prefix.size() || l[prefix.size()] == ';')) out.push_back(l);
    }
    return out;
}

std::vector<int> pcuSimulator::statusHistory(int n) const
{
    std::lock_guard<std::mutex> g(mtx);
    for (size_t i = 0; i < st.pumps.size(); ++i)
        if (st.pumps[i].st.trk == n) return history[i];
    return {};
}

void pcuSimulator::clearStatusHistory()
{
    std::lock_guard<std::mutex> g(mtx);
    for (size_t i = 0; i < st.pumps.size(); ++i) history[i] = {st.pumps[i].st.status};
}

void pcuSimulator::clearReceivedControlLines()
{
    std::lock_guard<std::mutex> g(mtx);
    st.received.clear();
}

bool pcuSimulator::waitFor(const std::function<bool()>& cond, int timeoutMs) const
{
    int64_t deadline = steadyMs() + timeoutMs;
    while (!cond()) {
        if (steadyMs() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool pcuSimulator::waitForStatus(int n, int status, int timeoutMs) const
{
    return waitFor([&] { return this->status(n) == status; }, timeoutMs);
}

bool pcuSimulator::waitForControlLines(size_t count, int timeoutMs) const
{
    return waitFor([&] { return receivedControlLines().size() >= count; }, timeoutMs);
}

}  // namespace sim
