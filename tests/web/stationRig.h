#pragma once
// A whole station on the test bench, for tests of the endpoints that talk to the controller and to
// the platform: a simulated controller, a platform stub, the pump table under a key file of its
// own, the service configured to use them all, and time running faster. Pump records are
// published by hand (publish, pump) or, after followController(), by the monitor loop as the
// daemon does it.
//
//   webtest::rigOptions opt;
//   opt.fuelweb["ctl_postpay_allow"] = "true";        // any "fuelweb" key, as JSON text
//   webtest::stationRig rig(opt);
//   rig.publish(1, 3);
//   webtest::httpReply r = rig.post("/order", "{...}");
//   rig.pcu.receivedCommands("PWORK");  rig.platform.requestsTo("/completed");
//   rig.clock.onPause(500000, [&] { ... });           // what happens during a 0.5 s pause
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "pcuMonitor.h"
#include "pcuSimulator.h"
#include "platformStub.h"
#include "testSupport.h"
#include "timeSource.h"
#include "webTestSupport.h"

namespace webtest {

// Compressed time whose speed can change without the clock jumping. A pause of a given nominal
// length can stand for what happens meanwhile (the monitor publishing a change, a pump moving on),
// or be held until the test lets it go, so that tests act at an exact point of a handler instead of
// racing it.
class testClock : public pcudata::timeSource {
public:
    explicit testClock(double factor);
    time_t now() override;
    int64_t nowUs() override;
    void sleepUs(int64_t us) override;
    int64_t realWaitUs(int64_t us) override;

    void setFactor(double factor);
    // The next pause of exactly us nominal microseconds, on whatever thread, waits for release().
    void holdNext(int64_t us);
    bool waitHeld(int timeoutMs);
    void release();
    // `during` runs at the start of every pause of exactly `us` nominal microseconds.
    void onPause(int64_t us, std::function<void()> during);

private:
    std::mutex m;
    std::condition_variable cv;
    double factor;
    int64_t baseReal;
    int64_t baseNominal;
    int64_t heldUs = -1;
    bool holding = false;
    bool released = false;
    std::map<int64_t, std::function<void()>> hooks;

    static int64_t realUs();
};

// A quiet station: 2 ms ticks, 500 ml per tick, no simulated driver, no periodic repeats.
sim::stationConfig benchStation();

// The monitor daemon's loop in this process: the pump table of the key file follows what the
// simulated controller reports, until the object goes.
class pumpFollower {
public:
    pumpFollower(const std::string& keyFile, sim::pcuSimulator& pcu);
    ~pumpFollower();
    pumpFollower(const pumpFollower&) = delete;
    pumpFollower& operator=(const pumpFollower&) = delete;

    pcudata::pcuMonitor mon;

private:
    sim::pcuSimulator& pcu;
    std::atomic<bool> stopping{false};
    std::thread loop;
};

struct rigOptions {
    // "fuelweb" members as JSON text; they replace the rig's own (keys, ports, tmp_path).
    std::map<std::string, std::string> fuelweb;
    sim::stationConfig station = benchStation();
    // Nominal seconds per real second. 100 makes the controller's 10 s read budget 100 ms.
    double timeFactor = 100;
    bool serve = true;  // false: the test starts the service with serve()
};

class stationRig {
public:
    static constexpr const char* APIKEY = "client,srv,azs";  // client, server, station key

    explicit stationRig(const rigOptions& opt = rigOptions());
    ~stationRig();
    stationRig(const stationRig&) = delete;
    stationRig& operator=(const stationRig&) = delete;

    // A request below the script path with the apikey in the query.
    httpReply send(const std::string& method, const std::string& endpoint, const std::string& body,
                   const std::string& apikey = APIKEY);
    httpReply post(const std::string& endpoint, const std::string& json, const std::string& apikey = APIKEY)
    {
        return send("POST", endpoint, json, apikey);
    }

    pcudata::trkState_t& pump(int n) { return seg.pump(n); }
    pcudata::trkState_t& publish(int n, int status = 3) { return seg.publish(n, status); }
    pcudata::pcuStatus_t& controller() { return seg.controller(); }

    // (Re)starts the service on the rig's own "fuelweb" members and these.
    void serve(const std::map<std::string, std::string>& fuelweb);
    // From now on the monitor loop publishes what the simulated controller reports.
    void followController();
    // Polls cond every millisecond for up to timeoutMs real milliseconds.
    static bool waitFor(const std::function<bool()>& cond, int timeoutMs = 5000)
    {
        return testsupport::waitFor(cond, timeoutMs, 1);
    }

    testClock clock;  // first: it outlives every thread that sleeps on it
    pcudata::timeSourceGuard clockGuard{&clock};
    logCapture logs;
    tempDir dir;
    segmentView seg{dir.keyFile()};
    sim::pcuSimulator pcu;
    sim::platformStub platform;
    std::unique_ptr<runningService> svc;
    std::unique_ptr<pumpFollower> follower;
};

}  // namespace webtest
