#include "soakStation.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "soakClock.h"

namespace soak {

namespace {

const char* const NOTICE_PATHS[] = {"/completed", "/canceled", "/volume", "/message"};

// Pumps 1..n with one to three hoses of the default products: 2 l a second, a tick of 10 ms, no
// simulated driver (the customers of the soak lift and hang the nozzles), a full repeat every 2 s.
sim::stationConfig stationOf(int pumps)
{
    sim::stationConfig cfg = sim::defaultStation();
    cfg.tickMs = 10;
    cfg.flowMlPerTick = 20;
    cfg.autoDriverTicks = 0;
    cfg.repeatMs = 2000;
    cfg.pumps.clear();
    for (int n = 1; n <= pumps; ++n) {
        sim::simPumpConfig p;
        p.num = n;
        p.hoses = {{1, 1, 0}, {2, 2, 1}};
        if (n % 3 == 0) p.hoses.push_back({3, 3, 2});
        if (n % 4 == 0) p.hoses = {{1, 3, 2}};
        cfg.pumps.push_back(p);
    }
    return cfg;
}

uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool listening(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

std::string makeTempDir()
{
    char name[] = "/tmp/fuelgate_soak_XXXXXX";
    return ::mkdtemp(name) != nullptr ? name : "";
}

}  // namespace

soakStation::soakStation(const stationSettings& s)
    : settings(s), dirPath(makeTempDir()), pcu(stationOf(s.pumps)), table(dirPath + "/trkstat.mem")
{
}

soakStation::~soakStation()
{
    shutdown();
}

std::vector<int> soakStation::pumpNumbers() const
{
    std::vector<int> out;
    for (int n = 1; n <= settings.pumps; ++n) out.push_back(n);
    return out;
}

bool soakStation::start(std::string& error)
{
    if (dirPath.empty()) {
        error = "no temporary directory under /tmp";
        return false;
    }
    if (pcu.start() != 0 || platform.start() != 0) {
        error = "the simulated controller or the platform stub does not start";
        return false;
    }
    platform.setListener([this](const sim::platformRequest& r) { onNotice(r); });
    pcu.setAfterCommand([this](const std::string& line) { onControlLine(line); });
    if (!copyPrograms(error)) return false;
    port = freePort();
    writeConfig();
    return startDaemon(error) && startFuelweb(error);
}

// The run uses copies of the programs: a build that replaces them meanwhile can't make a restart
// fail or mix two versions in one run.
bool soakStation::copyPrograms(std::string& error)
{
    const char* programs[] = {"app-azs/src/fuelweb", "app-azs/src/fuelwebctl", "monitor/pcuMonitorServer"};
    for (const char* p : programs) {
        const std::filesystem::path from = settings.binDir + "/" + p;
        std::error_code ec;
        std::filesystem::copy_file(from, dirPath + "/" + from.filename().string(),
                                   std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            error = "can't copy " + from.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

void soakStation::writeConfig()
{
    const std::string d = dirPath;
    std::ofstream(d + "/config.json")
        << "{\"service\":{\"ip\":\"127.0.0.1\",\"port\":" << port << ",\"worker_threads\":48},"
        << "\"logging\":{\"level\":\"info\",\"file\":\"" << d << "/fuelweb.log\"},"
        << "\"fuelweb\":{\"operator\":{\"port\":0},\"tmp_path\":\"" << d << "\",\"run_path\":\"" << d
        << "\",\"log_path\":\"" << d << "\",\"ctl_addr\":\"127.0.0.1\",\"ctl_port\":" << pcu.ctlPort()
        << ",\"mon_port\":" << pcu.monPort()
        << ",\"upstream_key\":\"srv\",\"ctl_key\":\"azs\",\"upstream_endpoint\":\"" << platform.baseUrl()
        << "\",\"state_path\":\"" << d << "/state.db\",\"order_timeout\":" << settings.orderTimeout
        << ",\"notice_resend_interval\":" << settings.resendInterval << ",\"ctl_postpay_allow\":true}}\n";
}

void soakStation::shutdown()
{
    if (down) return;
    down = true;
    {
        std::lock_guard<std::mutex> g(procMtx);
        killCommand.clear();
        if (fw && fw->running()) {
            fw->signal(SIGTERM);
            if (fw->waitExit(60000) < 0) fw->kill();
        }
        fw.reset();
    }
    if (daemon) daemon->stop(SIGTERM);
    daemon.reset();
    pcu.setAfterCommand(nullptr);
    platform.setListener(nullptr);
    platform.stop();
    pcu.stop();
    table.remove();
    if (!keep && !dirPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dirPath, ignored);
    }
}

// --- fuelweb ---------------------------------------------------------------------------------------

bool soakStation::startFuelweb(std::string& error)
{
    {
        std::lock_guard<std::mutex> g(procMtx);
        if (fw && fw->running()) return true;
        fw = std::make_unique<childProcess>(
            std::vector<std::string>{dirPath + "/fuelweb", "-c", dirPath + "/config.json"},
            dirPath + "/fuelweb.out");
        if (!fw->start()) {
            error = "fuelweb can't be run from " + dirPath;
            return false;
        }
    }
    for (int i = 0; i < 400; ++i) {
        if (listening(port)) return true;
        if (!fuelwebRunning()) break;
        pause(0.05);
    }
    error = "fuelweb does not listen on port " + std::to_string(port) + " (see " + dirPath + "/fuelweb.out)";
    return false;
}

void soakStation::killFuelweb()
{
    std::lock_guard<std::mutex> g(procMtx);
    killCommand.clear();
    if (!fw || !fw->running()) return;
    if (!killed) killTimes.push_back(runClock().now());
    killed = false;
    fw->kill();
}

bool soakStation::fuelwebEnded(int& status)
{
    std::lock_guard<std::mutex> g(procMtx);
    if (!fw || !fw->running() || killed) return false;
    status = fw->waitExit(0);
    return status >= 0;
}

std::vector<double> soakStation::fuelwebKills() const
{
    std::lock_guard<std::mutex> g(procMtx);
    return killTimes;
}

void soakStation::signalFuelweb(int sig)
{
    std::lock_guard<std::mutex> g(procMtx);
    if (fw) fw->signal(sig);
}

bool soakStation::fuelwebRunning() const
{
    std::lock_guard<std::mutex> g(procMtx);
    return fw && fw->running() && ::kill(fw->pid(), 0) == 0 && !killed;
}

void soakStation::killFuelwebAfter(const std::string& command)
{
    std::lock_guard<std::mutex> g(procMtx);
    killCommand = command;
}

bool soakStation::disarmKill()
{
    std::lock_guard<std::mutex> g(procMtx);
    killCommand.clear();
    return killed;
}

// Runs on the simulator's connection thread, after the command was carried out and before its
// answer goes out. The daemon never sends control lines, so every line is fuelweb's.
void soakStation::onControlLine(const std::string& line)
{
    std::lock_guard<std::mutex> g(procMtx);
    if (killCommand.empty() || !fw || !fw->running()) return;
    const std::string head = "@!" + killCommand;
    if (line.compare(0, head.size(), head) != 0) return;
    if (line.size() > head.size() && line[head.size()] != ';') return;
    ::kill(fw->pid(), SIGKILL);
    killTimes.push_back(runClock().now());
    killCommand.clear();
    killed = true;
}

// --- the monitor daemon ----------------------------------------------------------------------------

bool soakStation::startDaemon(std::string& error)
{
    if (daemon && daemon->running()) return true;
    daemon =
        std::make_unique<daemonProcess>(dirPath + "/pcuMonitorServer", dirPath + "/config.json",
                                        dirPath + "/pcuMonitorServer.pid", dirPath + "/pcuMonitorServer.out");
    return daemon->start(error);
}

void soakStation::stopDaemon(int sig)
{
    if (daemon) daemon->stop(sig);
}

bool soakStation::daemonRunning() const
{
    return daemon && daemon->running();
}

bool soakStation::daemonEnded(int& status)
{
    if (!daemon) return false;
    status = daemon->ended();
    return status >= 0;
}

// --- the platform ----------------------------------------------------------------------------------

void soakStation::platformAnswers(int status)
{
    for (const char* p : NOTICE_PATHS) platform.setStatus(p, status);
}

void soakStation::onNotice(const sim::platformRequest& r)
{
    platformNotice n;
    n.at = runClock().now();
    n.path = r.path;
    n.status = r.status;
    n.form = sim::platformStub::formFields(r.body);
    n.orderId = n.form.count("orderId") ? n.form["orderId"] : n.form["orderid"];
    std::lock_guard<std::mutex> g(noticeMtx);
    seen.push_back(std::move(n));
}

std::vector<platformNotice> soakStation::notices() const
{
    std::lock_guard<std::mutex> g(noticeMtx);
    return seen;
}

std::string soakStation::acceptedFinal(const std::string& orderId) const
{
    std::lock_guard<std::mutex> g(noticeMtx);
    for (const platformNotice& n : seen)
        if (n.orderId == orderId && n.status == 200 && (n.path == "/completed" || n.path == "/canceled"))
            return n.path;
    return "";
}

std::string soakStation::fuelwebctl(const std::vector<std::string>& args) const
{
    std::string cmd = "'" + dirPath + "/fuelwebctl' -c '" + dirPath + "/config.json'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    cmd += " 2>&1";
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return "(fuelwebctl can't be run)\n";
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

}  // namespace soak
