#include "stationRig.h"

#include <gtest/gtest.h>

#include <chrono>

namespace webtest {

// --- testClock ------------------------------------------------------------------------------

testClock::testClock(double f) : factor(f), baseReal(realUs()), baseNominal(realUs()) {}

int64_t testClock::realUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t testClock::nowUs()
{
    std::lock_guard<std::mutex> g(m);
    return baseNominal + static_cast<int64_t>(static_cast<double>(realUs() - baseReal) * factor);
}

time_t testClock::now()
{
    return static_cast<time_t>(nowUs() / 1000000);
}

int64_t testClock::realWaitUs(int64_t us)
{
    std::lock_guard<std::mutex> g(m);
    if (us <= 0) return 0;
    int64_t real = static_cast<int64_t>(static_cast<double>(us) / factor);
    return real > 0 ? real : 1;
}

void testClock::sleepUs(int64_t us)
{
    std::function<void()> during;
    {
        std::unique_lock<std::mutex> g(m);
        auto hook = hooks.find(us);
        if (hook != hooks.end()) during = hook->second;
    }
    if (during) during();
    {
        std::unique_lock<std::mutex> g(m);
        if (heldUs >= 0 && us == heldUs) {
            heldUs = -1;
            holding = true;
            cv.notify_all();
            cv.wait(g, [this] { return released; });
            holding = false;
            released = false;
            return;
        }
    }
    timeSource::sleepUs(realWaitUs(us));
}

void testClock::setFactor(double f)
{
    std::lock_guard<std::mutex> g(m);
    int64_t r = realUs();
    baseNominal += static_cast<int64_t>(static_cast<double>(r - baseReal) * factor);
    baseReal = r;
    factor = f;
}

void testClock::holdNext(int64_t us)
{
    std::lock_guard<std::mutex> g(m);
    heldUs = us;
}

bool testClock::waitHeld(int timeoutMs)
{
    std::unique_lock<std::mutex> g(m);
    return cv.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return holding; });
}

void testClock::release()
{
    std::lock_guard<std::mutex> g(m);
    released = true;
    cv.notify_all();
}

void testClock::onPause(int64_t us, std::function<void()> during)
{
    std::lock_guard<std::mutex> g(m);
    hooks[us] = std::move(during);
}

pumpFollower::pumpFollower(const std::string& keyFile, sim::pcuSimulator& p) : pcu(p)
{
    mon.setIpcPath(keyFile);
    if (mon.shmInit() != 0) ADD_FAILURE() << "the monitor can't attach the pump table";
    mon.sock().setHost("127.0.0.1");
    mon.sock().setPort(static_cast<uint32_t>(pcu.monPort()));
    loop = std::thread([this] {
        while (!stopping) mon.runPass();
    });
}

pumpFollower::~pumpFollower()
{
    stopping = true;
    pcu.closeMonitorConnections();  // ends the read the loop is waiting in
    loop.join();
    mon.shmStop();
}

// --- the rig --------------------------------------------------------------------------------------

sim::stationConfig benchStation()
{
    sim::stationConfig cfg = sim::defaultStation();
    cfg.tickMs = 2;
    cfg.flowMlPerTick = 500;
    cfg.autoDriverTicks = 0;
    cfg.repeatMs = 0;
    return cfg;
}

stationRig::stationRig(const rigOptions& opt) : clock(opt.timeFactor), pcu(opt.station)
{
    if (pcu.start() != 0) ADD_FAILURE() << "the simulated controller does not start";
    if (platform.start() != 0) ADD_FAILURE() << "the platform stub does not start";
    if (opt.serve) serve(opt.fuelweb);
}

void stationRig::serve(const std::map<std::string, std::string>& fuelweb)
{
    svc.reset();
    std::map<std::string, std::string> members = {
        {"upstream_key", "\"srv\""},
        {"ctl_key", "\"azs\""},
        {"tmp_path", "\"" + dir.path() + "\""},
        {"ctl_port", std::to_string(pcu.ctlPort())},
        {"upstream_endpoint", "\"" + platform.baseUrl() + "\""},
    };
    for (const auto& m : fuelweb) members[m.first] = m.second;
    std::string text;
    for (const auto& m : members) text += (text.empty() ? "\"" : ",\"") + m.first + "\":" + m.second;
    svc = std::make_unique<runningService>(configWith(text));
}

stationRig::~stationRig()
{
    follower.reset();
    svc.reset();
    platform.stop();
    pcu.stop();
}

httpReply stationRig::send(const std::string& method, const std::string& endpoint, const std::string& body,
                           const std::string& apikey)
{
    return httpSend(svc->port(), method, "/api/fuelweb" + endpoint + "?apikey=" + apikey, "application/json",
                    body);
}

void stationRig::followController()
{
    follower = std::make_unique<pumpFollower>(dir.keyFile(), pcu);
}

}  // namespace webtest
