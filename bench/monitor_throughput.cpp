// Whole-daemon throughput: how many pump lines per second pcuMonitorServer publishes into the
// shared segment when the simulated controller floods its monitoring port, next to the rate at
// which plain loopback readers receive the same stream.
//
//   monitor_throughput [LINES] [DAEMON_BINARY]
//
// The simulator sends LINES distinct full pump lines (default 300000) over pumps 1..32, in
// batches, keeping at most WINDOW lines ahead of the reader: the simulator drops a client whose
// socket cannot take a batch, so the window keeps the kernel buffers from filling. Three readers
// are timed, one after the other, on the same simulator:
//   bare recv:   a blocking socket read in 64 KiB pieces, counting line feeds (the floor);
//   readln:      pcudata::clientSock::readln in a loop, the daemon's own reading without parsing;
//   daemon:      the pcuMonitorServer binary; progress is read from the segment.
// The daemon binary defaults to ../monitor/pcuMonitorServer next to this program's directory.
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "clientSock.h"
#include "pcuSimulator.h"
#include "shmSegment.h"
#include "timeSource.h"

namespace {

constexpr int64_t BATCH = 64;                // lines per send of the simulator
constexpr int64_t WINDOW = 1024;             // lines allowed ahead of the reader
constexpr int64_t POLL_US = 100;             // pause of the sender while the window is full
constexpr int64_t VOLUME_BASE = 1000000000;  // volumes of the flood start here, above any real one

using pcudata::timeSrc;

std::string floodLine(int64_t i)
{
    const std::string n = std::to_string(i);
    return "T" + std::to_string(i % 32 + 1) + ";S7,0,0,0,0,0;P10000,0,0,0,2,0;I" + n + ";A" +
           std::to_string(VOLUME_BASE + i + 1) + "," + n;
}

// Sends lines 0..count-1 and waits until progress() reports them all. Lines per second, or -1
// when the reader fell off or stalled.
double flood(sim::pcuSimulator& pcu, int64_t count, const std::function<int64_t()>& progress)
{
    const int64_t start = timeSrc().nowUs();
    int64_t sent = 0;
    std::string batch;
    while (sent < count) {
        if (sent - progress() > WINDOW - BATCH) {
            timeSrc().sleepUs(POLL_US);
            continue;
        }
        batch.clear();
        for (int64_t k = 0; k < BATCH && sent < count; ++k, ++sent) batch += floodLine(sent) + "\n";
        pcu.sendRawMonitorLine(batch);
        if (pcu.monitorClients() == 0) return -1;
    }
    const int64_t deadline = timeSrc().nowUs() + 10000000;
    while (progress() < count) {
        if (timeSrc().nowUs() > deadline) return -1;
        timeSrc().sleepUs(POLL_US);
    }
    return static_cast<double>(count) * 1e6 / static_cast<double>(timeSrc().nowUs() - start);
}

// Waits until the counter has been still for 100 ms: the simulator's greeting lines are in.
int64_t settled(const std::atomic<int64_t>& counter)
{
    int64_t last = -1;
    while (counter.load() != last) {
        last = counter.load();
        timeSrc().sleepUs(100000);
    }
    return last;
}

double bareRecv(sim::pcuSimulator& pcu, int64_t count)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(pcu.monPort()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    std::atomic<int64_t> lines{0};
    std::thread reader([&] {
        std::vector<char> buf(65536);
        ssize_t n = 0;
        while ((n = ::recv(fd, buf.data(), buf.size(), 0)) > 0)
            lines += std::count(buf.data(), buf.data() + n, '\n');
    });
    const int64_t greeting = settled(lines);
    const double rate = flood(pcu, count, [&] { return lines.load() - greeting; });
    pcu.closeMonitorConnections();
    reader.join();
    ::close(fd);
    return rate;
}

double clientSockReadln(sim::pcuSimulator& pcu, int64_t count)
{
    pcudata::clientSock sock("127.0.0.1", static_cast<uint32_t>(pcu.monPort()));
    if (!sock.isConnected()) return -1;
    std::atomic<int64_t> lines{0};
    std::thread reader([&] {
        while (!sock.isPeerClosed() && sock.errCode() == 0)
            if (!sock.readln().empty()) ++lines;
    });
    const int64_t greeting = settled(lines);
    const double rate = flood(pcu, count, [&] { return lines.load() - greeting; });
    pcu.closeMonitorConnections();
    reader.join();
    return rate;
}

// --- the daemon as a process ---------------------------------------------------------------------

struct daemonRun {
    std::string dir;
    pid_t pid = 0;
    pcudata::shmSegment seg;

    bool start(const std::string& binary, int port)
    {
        char name[] = "/tmp/monbench_dirXXXXXX";
        if (::mkdtemp(name) == nullptr) return false;
        dir = name;
        const std::string cfg = dir + "/cfg.json";
        FILE* f = std::fopen(cfg.c_str(), "w");
        if (f == nullptr) return false;
        std::fprintf(f, "{\"fuelweb\": {\"tmp_path\": \"%s\", \"run_path\": \"%s\", \"log_path\": \"%s\"}}\n",
                     dir.c_str(), dir.c_str(), dir.c_str());
        std::fclose(f);
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);  // the detached daemon comes back to us
        const std::string portText = std::to_string(port);
        const pid_t starter = ::fork();
        if (starter == 0) {
            ::execl(binary.c_str(), binary.c_str(), "--config", cfg.c_str(), "-H", "127.0.0.1", "-P",
                    portText.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int st = 0;
        if (::waitpid(starter, &st, 0) != starter || !WIFEXITED(st) || WEXITSTATUS(st) != 0) return false;
        pid = readPid(dir + "/pcuMonitorServer.pid");
        seg.setIpcPath(dir + "/trkstat.mem");
        return pid > 0 && seg.shmInit() == 0;
    }
    static pid_t readPid(const std::string& path)
    {
        FILE* f = std::fopen(path.c_str(), "r");
        int v = 0;
        if (f != nullptr) {
            if (std::fscanf(f, "%d", &v) != 1) v = 0;
            std::fclose(f);
        }
        return v;
    }
    // Lines of the flood published so far: the highest flood volume in the table. Lines are
    // published in order, so every earlier line is in as well.
    int64_t progress()
    {
        int64_t best = 0;
        for (int n = 1; n <= pcudata::TRK_COUNT; ++n) best = std::max(best, seg.getTrkState(n)->volume);
        return best > VOLUME_BASE ? best - VOLUME_BASE : 0;
    }
    // CPU time the daemon has used so far, microseconds (user + system).
    int64_t cpuUs() const
    {
        FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
        if (f == nullptr) return 0;
        char buf[1024] = {};
        const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        std::fclose(f);
        buf[n] = '\0';
        const char* p = std::strrchr(buf, ')');
        unsigned long utime = 0, stime = 0;
        if (p == nullptr ||
            std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
            return 0;
        return static_cast<int64_t>(utime + stime) * 1000000 / ::sysconf(_SC_CLK_TCK);
    }
    bool greeted()
    {
        for (int n = 1; n <= 4; ++n)
            if (seg.getTrkState(n)->trk != n) return false;
        return true;
    }
    ~daemonRun()
    {
        if (pid > 0 && ::kill(pid, SIGTERM) == 0) ::waitpid(pid, nullptr, 0);
        seg.shmStop();
        const key_t key = ::ftok((dir + "/trkstat.mem").c_str(), pcudata::SHM_PROJECT_ID);
        const int id = key == -1 ? -1 : ::shmget(key, 0, 0);
        if (id >= 0) ::shmctl(id, IPC_RMID, nullptr);
        if (!dir.empty()) (void)!std::system(("rm -rf '" + dir + "'").c_str());
    }
};

double wholeDaemon(sim::pcuSimulator& pcu, int64_t count, const std::string& binary, double& cpuPerLineUs)
{
    daemonRun d;
    if (!d.start(binary, pcu.monPort())) return -1;
    const int64_t deadline = timeSrc().nowUs() + 5000000;
    while (!d.greeted()) {
        if (timeSrc().nowUs() > deadline) return -1;
        timeSrc().sleepUs(1000);
    }
    const int64_t cpuBefore = d.cpuUs();
    const double rate = flood(pcu, count, [&] { return d.progress(); });
    cpuPerLineUs = static_cast<double>(d.cpuUs() - cpuBefore) / static_cast<double>(count);
    pcu.closeMonitorConnections();
    return rate;
}

std::string defaultDaemon(const char* argv0)
{
    std::string self = argv0;
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) self.assign(buf, static_cast<size_t>(n));
    const size_t slash = self.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : self.substr(0, slash);
    return dir + "/../monitor/pcuMonitorServer";
}

}  // namespace

int main(int argc, char* argv[])
{
    const int64_t count = argc > 1 ? std::atoll(argv[1]) : 300000;
    const std::string binary = argc > 2 ? argv[2] : defaultDaemon(argv[0]);
    ::signal(SIGPIPE, SIG_IGN);
    sim::stationConfig cfg = sim::defaultStation();
    cfg.repeatMs = 0;
    cfg.autoDriverTicks = 0;
    sim::pcuSimulator pcu(cfg);
    if (pcu.start() != 0) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    const double bare = bareRecv(pcu, count);
    const double readln = clientSockReadln(pcu, count);
    double cpuPerLine = 0;
    const double daemon = wholeDaemon(pcu, count, binary, cpuPerLine);
    std::printf("lines: %lld, window %lld, batch %lld\n", static_cast<long long>(count),
                static_cast<long long>(WINDOW), static_cast<long long>(BATCH));
    std::printf("bare recv reader     %12.0f lines/s\n", bare);
    std::printf("clientSock readln    %12.0f lines/s\n", readln);
    std::printf("pcuMonitorServer     %12.0f lines/s published\n", daemon);
    std::printf("daemon CPU per line  %12.2f us\n", cpuPerLine);
    if (bare > 0 && daemon > 0) std::printf("daemon / bare reader %12.2f\n", daemon / bare);
    return bare > 0 && readln > 0 && daemon > 0 ? 0 : 1;
}
