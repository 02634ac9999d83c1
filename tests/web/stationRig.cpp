#include "stationRig.h"

#include <gtest/gtest.h>

#include <chrono>

namespace webtest {

void benchTime::sleepUs(int64_t us)
{
    std::function<void()> during;
    {
        std::lock_guard<std::mutex> g(m);
        auto it = hooks.find(us);
        if (it != hooks.end()) during = it->second;
    }
    if (during) during();
    scaledTimeSource::sleepUs(us);
}

void benchTime::onPause(int64_t us, std::function<void()> during)
{
    std::lock_guard<std::mutex> g(m);
    hooks[us] = std::move(during);
}

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
    std::map<std::string, std::string> members = {
        {"upstream_key", "\"srv\""},
        {"ctl_key", "\"azs\""},
        {"tmp_path", "\"" + dir.path() + "\""},
        {"ctl_port", std::to_string(pcu.ctlPort())},
        {"upstream_endpoint", "\"" + platform.baseUrl() + "\""},
    };
    for (const auto& m : opt.fuelweb) members[m.first] = m.second;
    std::string text;
    for (const auto& m : members) text += (text.empty() ? "\"" : ",\"") + m.first + "\":" + m.second;
    svc = std::make_unique<runningService>(configWith(text));
}

stationRig::~stationRig()
{
    if (monitor) {
        stopping = true;
        pcu.closeMonitorConnections();  // ends the read the loop is waiting in
        monitorLoop.join();
        monitor->shmStop();
    }
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
    monitor = std::make_unique<pcudata::pcuMonitor>();
    monitor->setIpcPath(dir.keyFile());
    if (monitor->shmInit() != 0) ADD_FAILURE() << "the monitor can't attach the pump table";
    monitor->sock().setHost("127.0.0.1");
    monitor->sock().setPort(static_cast<uint32_t>(pcu.monPort()));
    monitorLoop = std::thread([this] {
        while (!stopping) monitor->runPass();
    });
}

}  // namespace webtest
