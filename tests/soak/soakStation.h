#pragma once
// The whole station of a soak run: the simulated controller and the platform stub in this
// process, the real pcuMonitorServer and fuelweb as processes of the build, one configuration file
// for both, and a temporary directory for their files (segment key file, logs, state file). The
// platform's notices are logged with the time they came.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "childProcess.h"
#include "pcuSimulator.h"
#include "platformStub.h"
#include "pumpTable.h"

namespace soak {

struct stationSettings {
    std::string binDir;  // the build directory
    int pumps = 6;
    int orderTimeout = 20;   // fuelweb.order_timeout, seconds
    int resendInterval = 5;  // fuelweb.notice_resend_interval, seconds
};

// A request that came to the platform, when, and what it was answered.
struct platformNotice {
    double at = 0;  // seconds into the run
    std::string path;
    std::string orderId;
    int status = 0;
    std::map<std::string, std::string> form;
};

class soakStation {
    // First: the members below are made in the directory.
    stationSettings settings;
    std::string dirPath;

public:
    static constexpr int WPLACE = 20;  // fuelweb's workplace at the controller (its default)

    explicit soakStation(const stationSettings& s);
    ~soakStation();
    soakStation(const soakStation&) = delete;
    soakStation& operator=(const soakStation&) = delete;

    // Starts the controller, the platform, the daemon and fuelweb.
    bool start(std::string& error);
    // Ends fuelweb (SIGTERM, waiting for its orders), the daemon, the platform and the controller,
    // and removes the shared segment.
    void shutdown();

    // --- fuelweb ---
    bool startFuelweb(std::string& error);  // and waits until it listens
    void killFuelweb();                     // SIGKILL, reaped
    void signalFuelweb(int sig);
    bool fuelwebRunning() const;
    // The next control line of this command (e.g. "PWORK") that fuelweb sends gets it killed by
    // SIGKILL once the controller has carried it out, before the answer goes out.
    void killFuelwebAfter(const std::string& command);
    // True when the armed kill has happened (until fuelweb is reaped); disarms it either way.
    bool disarmKill();
    // True with its exit status when fuelweb has ended without being killed (it is reaped then).
    bool fuelwebEnded(int& status);
    // When fuelweb was killed, seconds into the run.
    std::vector<double> fuelwebKills() const;

    // --- the monitor daemon ---
    bool startDaemon(std::string& error);
    void stopDaemon(int sig);
    bool daemonRunning() const;
    // True with its exit status when the daemon has ended without being stopped.
    bool daemonEnded(int& status);

    // --- the platform ---
    void platformAnswers(int status);  // for every final, count and message notice
    std::vector<platformNotice> notices() const;
    // The path of the first final notice of the order that the platform took; "" when none yet.
    std::string acceptedFinal(const std::string& orderId) const;

    // Output of fuelwebctl with these arguments, on this run's configuration.
    std::string fuelwebctl(const std::vector<std::string>& args) const;

    const std::string& dir() const { return dirPath; }
    std::string fuelwebLog() const { return dirPath + "/fuelweb.log"; }
    uint16_t webPort() const { return port; }
    std::vector<int> pumpNumbers() const;
    void keepFiles() { keep = true; }

    sim::pcuSimulator pcu;
    sim::platformStub platform;
    pumpTable table;

private:
    bool copyPrograms(std::string& error);
    void writeConfig();
    void onControlLine(const std::string& line);
    void onNotice(const sim::platformRequest& r);

    uint16_t port = 0;
    bool keep = false;
    bool down = false;

    mutable std::mutex procMtx;  // guards fw and the armed kill
    std::unique_ptr<childProcess> fw;
    std::string killCommand;
    bool killed = false;
    std::vector<double> killTimes;
    std::unique_ptr<daemonProcess> daemon;

    mutable std::mutex noticeMtx;
    std::vector<platformNotice> seen;
};

}  // namespace soak
