// 32 orders watched at once by the fuelweb binary: the CPU time fuelweb uses per second of
// watching, and the delay from a pump's progress mark (the monitor raising notifyDue in the
// segment) to the platform receiving the /volume count for it.
//
//   fueling_watch_bench [WINDOW_SEC] [FUELWEB_BINARY]
//
// In this process: the simulated controller with 32 pumps (100 ms ticks, 30 l/min, nozzles moved
// by this program), the monitor loop publishing them into a private segment, and the platform
// stub. fuelweb runs as its own process (default ../app-azs/src/fuelweb next to this program's
// directory), so that its CPU time can be read from /proc. Every pump gets an order of 100 l as
// /order places it (reserved, record tagged), is started with /fueling and delivers for the whole
// window (default 20 s), after a warm-up of 5 s. fuelweb is killed at the end: its watches would
// otherwise wait for the deliveries to end.
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/ServerSocket.h>

#include "pcuControl.h"
#include "pcuMonitor.h"
#include "pcuSimulator.h"
#include "platformStub.h"

namespace {

constexpr int PUMPS = 32;
constexpr int WARMUP_SEC = 5;

int64_t realUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

sim::stationConfig station32()
{
    sim::stationConfig cfg = sim::defaultStation();
    cfg.autoDriverTicks = 0;
    sim::simPumpConfig proto = cfg.pumps.front();
    cfg.pumps.clear();
    for (int n = 1; n <= PUMPS; ++n) {
        proto.num = n;
        cfg.pumps.push_back(proto);
    }
    return cfg;
}

// Progress marks as the monitor raises them, and the /volume counts as the platform gets them.
struct marks {
    std::mutex m;
    int64_t lastMarkUs[PUMPS + 1] = {};
    int32_t lastNotifyTime[PUMPS + 1] = {};
    bool measuring = false;
    std::vector<int64_t> delaysUs;

    void afterPass(pcudata::pcuMonitor& mon)
    {
        const int64_t now = realUs();
        std::lock_guard<std::mutex> g(m);
        for (int n = 1; n <= PUMPS; ++n) {
            const pcudata::trkState_t* rec = mon.getTrkState(n);
            if (rec->notifyTime == lastNotifyTime[n]) continue;
            lastNotifyTime[n] = rec->notifyTime;
            if (rec->status == 7 && rec->notifyDue == 1) lastMarkUs[n] = now;
        }
    }
    void volumeArrived(int trk)
    {
        const int64_t now = realUs();
        std::lock_guard<std::mutex> g(m);
        if (measuring && trk >= 1 && trk <= PUMPS && lastMarkUs[trk] > 0)
            delaysUs.push_back(now - lastMarkUs[trk]);
    }
};

struct fuelwebProcess {
    pid_t pid = 0;
    bool start(const std::string& binary, const std::string& config)
    {
        pid = ::fork();
        if (pid == 0) {
            ::execl(binary.c_str(), binary.c_str(), "-c", config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid > 0;
    }
    int64_t cpuUs() const
    {
        FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
        if (f == nullptr) return 0;
        char buf[1024] = {};
        const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        const char* p = std::strrchr(buf, ')');
        unsigned long utime = 0, stime = 0;
        if (n == 0 || p == nullptr ||
            std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
            return 0;
        return static_cast<int64_t>(utime + stime) * 1000000 / ::sysconf(_SC_CLK_TCK);
    }
    ~fuelwebProcess()
    {
        if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
};

int post(uint16_t port, const std::string& uri, const std::string& body)
{
    try {
        Poco::Net::HTTPClientSession s("127.0.0.1", port);
        s.setTimeout(Poco::Timespan(10, 0));
        Poco::Net::HTTPRequest req(Poco::Net::HTTPRequest::HTTP_POST, uri, Poco::Net::HTTPMessage::HTTP_1_1);
        req.setContentType("application/json");
        req.setContentLength(static_cast<std::streamsize>(body.size()));
        s.sendRequest(req) << body;
        Poco::Net::HTTPResponse resp;
        s.receiveResponse(resp);
        return resp.getStatus();
    } catch (const std::exception&) {
        return 0;
    }
}

bool waitUntil(const std::function<bool()>& cond, int timeoutMs)
{
    const int64_t end = realUs() + int64_t{timeoutMs} * 1000;
    while (!cond()) {
        if (realUs() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// /order's reservation road for pump n: reserved with the controller, the record tagged.
bool placeOrder(pcudata::pcuControl& ctl, pcudata::pcuMonitor& mon, int n)
{
    pcudata::cntlMsgResult res;
    int err = 0;
    if (ctl.reserve_trk(n, res, err, 92, -1) != 1) return false;
    pcudata::trkState_t* rec = mon.getTrkState(n);
    if (!waitUntil([&] { return rec->status == 10; }, 5000) || !mon.lockTrkPtr(rec)) return false;
    const std::string id = "bench-" + std::to_string(n);
    std::strcpy(rec->orderId, id.c_str());
    std::strcpy(rec->clientKey, "client");
    rec->tagged = 1;
    rec->tagTime = rec->notifyTime = static_cast<int32_t>(::time(nullptr));
    rec->notifyDue = 0;
    mon.unlockTrkPtr(rec);
    return true;
}

double percentile(std::vector<int64_t> v, double q)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return static_cast<double>(v[static_cast<size_t>(q * static_cast<double>(v.size() - 1))]) / 1000.0;
}

std::string defaultFuelweb(const char* argv0)
{
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    return path.substr(0, path.rfind('/')) + "/../app-azs/src/fuelweb";
}

}  // namespace

int main(int argc, char** argv)
{
    const int window = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::string binary = argc > 2 ? argv[2] : defaultFuelweb(argv[0]);
    char name[] = "/tmp/fuelingbench_XXXXXX";
    if (::mkdtemp(name) == nullptr) return 1;
    const std::string dir = name;

    sim::pcuSimulator pcu(station32());
    sim::platformStub platform;
    marks mk;
    if (pcu.start() != 0 || platform.start() != 0) return 1;
    platform.setListener([&mk](const sim::platformRequest& r) {
        if (r.path != "/volume") return;
        std::string id = sim::platformStub::formFields(r.body)["orderid"];
        mk.volumeArrived(std::atoi(id.c_str() + std::strlen("bench-")));
    });

    pcudata::pcuMonitor mon;
    mon.setIpcPath(dir + "/trkstat.mem");
    if (mon.shmInit() != 0) return 1;
    mon.sock().setHost("127.0.0.1");
    mon.sock().setPort(static_cast<uint32_t>(pcu.monPort()));
    std::atomic<bool> monitoring{true};
    std::thread monitorThread([&] {
        while (monitoring) {
            mon.runPass();
            mk.afterPass(mon);
        }
    });

    const uint16_t port = Poco::Net::ServerSocket(Poco::Net::SocketAddress("127.0.0.1", 0)).address().port();
    const std::string config = dir + "/fuelweb.json";
    FILE* f = std::fopen(config.c_str(), "w");
    std::fprintf(f,
                 "{\"service\":{\"ip\":\"127.0.0.1\",\"port\":%u,\"worker_threads\":64},"
                 "\"logging\":{\"level\":\"info\",\"file\":\"%s/fuelweb.log\"},"
                 "\"fuelweb\":{\"operator\":{\"port\":0},\"upstream_key\":\"srv\",\"ctl_key\":\"azs\",\"tmp_"
                 "path\":\"%s\","
                 "\"ctl_port\":%d,\"upstream_endpoint\":\"%s\",\"order_timeout\":600,"
                 "\"state_path\":\"%s/state.db\"}}\n",
                 port, dir.c_str(), dir.c_str(), pcu.ctlPort(), platform.baseUrl().c_str(), dir.c_str());
    std::fclose(f);

    int rc = 1;
    {
        fuelwebProcess fw;
        if (!fw.start(binary, config)) return 1;
        pcudata::pcuControl ctl("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
        bool ready = waitUntil([&] { return post(port, "/api/fuelweb", "") == 412; }, 10000) &&
                     waitUntil([&] { return mon.getTrkState(PUMPS)->trk == PUMPS; }, 10000);
        std::this_thread::sleep_for(std::chrono::seconds(WARMUP_SEC));
        const int64_t idleCpu0 = fw.cpuUs(), idleT0 = realUs();
        std::this_thread::sleep_for(std::chrono::seconds(WARMUP_SEC));
        const double idlePct =
            100.0 * static_cast<double>(fw.cpuUs() - idleCpu0) / static_cast<double>(realUs() - idleT0);
        for (int n = 1; ready && n <= PUMPS; ++n) {
            ready =
                placeOrder(ctl, mon, n) &&
                post(port, "/api/fuelweb/fueling?apikey=client,srv,azs",
                     "{\"id\":\"bench-" + std::to_string(n) + "\",\"app_id\":1,\"trk\":" + std::to_string(n) +
                         ",\"prod\":92,\"price\":52.5,\"volume\":100,\"summa\":5250}") == 200;
        }
        for (int n = 1; ready && n <= PUMPS; ++n) {
            ready = waitUntil([&] { return pcu.status(n) == 6; }, 10000);
            pcu.liftNozzle(n);
        }
        if (!ready) {
            std::fprintf(stderr, "the station did not come up; see %s/fuelweb.log\n", dir.c_str());
        } else {
            std::this_thread::sleep_for(std::chrono::seconds(WARMUP_SEC));
            {
                std::lock_guard<std::mutex> g(mk.m);
                mk.measuring = true;
            }
            const int64_t cpu0 = fw.cpuUs(), t0 = realUs();
            std::this_thread::sleep_for(std::chrono::seconds(window));
            const int64_t cpu1 = fw.cpuUs(), t1 = realUs();
            int delivering = 0;
            for (int n = 1; n <= PUMPS; ++n) delivering += pcu.status(n) == 7;
            std::lock_guard<std::mutex> g(mk.m);
            const double pct = 100.0 * static_cast<double>(cpu1 - cpu0) / static_cast<double>(t1 - t0);
            std::printf("fuelweb idle (no order):        %.2f %% of one core\n", idlePct);
            std::printf(
                "fuelweb with %d watches:        %.2f %% of one core (%d pumps delivering at the end)\n",
                PUMPS, pct, delivering);
            std::printf(
                "mark -> /volume at the platform: %zu counts, median %.1f ms, p99 %.1f ms, max %.1f ms\n",
                mk.delaysUs.size(), percentile(mk.delaysUs, 0.5), percentile(mk.delaysUs, 0.99),
                percentile(mk.delaysUs, 1.0));
            rc = 0;
        }
    }
    monitoring = false;
    monitorThread.join();
    platform.stop();
    pcu.stop();
    mon.shmStop();
    const key_t key = ::ftok((dir + "/trkstat.mem").c_str(), pcudata::SHM_PROJECT_ID);
    const int id = key == -1 ? -1 : ::shmget(key, 0, 0);
    if (id >= 0) ::shmctl(id, IPC_RMID, nullptr);
    // A failed run keeps fuelweb's log for a look.
    if (rc == 0) (void)!std::system(("rm -rf '" + dir + "'").c_str());
    return rc;
}
