#pragma once
// What the web tests share: a temporary directory that holds the segment's key file (and removes
// the segment with it), a log capture, a service running in this process on a free loopback port,
// and a small HTTP client.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pocoLogCapture.h"
#include "settings.h"
#include "shmSegment.h"
#include "trkState.h"
#include "webService.h"

namespace webtest {

// A directory under /tmp for the key file "trkstat.mem"; on destruction the segment made from that
// key file is removed, then the files and the directory.
class tempDir {
public:
    tempDir();
    ~tempDir();
    tempDir(const tempDir&) = delete;
    tempDir& operator=(const tempDir&) = delete;
    const std::string& path() const { return dir; }
    std::string keyFile() const { return dir + "/trkstat.mem"; }
    void removeSegment() const;

private:
    std::string dir;
};

// Attaches the segment of a key file as the monitor daemon does, so that a test can publish pump
// records.
class segmentView {
public:
    explicit segmentView(const std::string& keyFile);
    ~segmentView();
    segmentView(const segmentView&) = delete;
    segmentView& operator=(const segmentView&) = delete;
    pcudata::trkState_t& pump(int n) { return shm->trkState[n - 1]; }
    // The controller's status block (driver version, ...).
    pcudata::pcuStatus_t& controller() { return shm->pcuStatus; }
    // A published, idle pump: trk n, status 3. The table counts as renewed by a monitor from then
    // on (dataTime far ahead of any clock) unless the test has set dataTime itself.
    pcudata::trkState_t& publish(int n, int status = 3);
    static constexpr int64_t ALWAYS_FRESH = int64_t{1} << 40;

private:
    pcudata::shmSegment seg;
    pcudata::sharedTrk_t* shm = nullptr;
};

using testsupport::logCapture;
using testsupport::logLine;

// A webService on a free loopback port, served by a thread of its own.
class runningService {
public:
    // configJson: the whole configuration, with "service.port" 0 (configWith does that).
    explicit runningService(const std::string& configJson);
    ~runningService();
    runningService(const runningService&) = delete;
    runningService& operator=(const runningService&) = delete;
    uint16_t port() const { return svc->port(); }
    azs_apps::webService& service() { return *svc; }
    // The settings the service runs with, read from the configuration.
    const azs_apps::settings& settings() const { return *cfg; }

private:
    std::shared_ptr<const azs_apps::settings> cfg;
    std::unique_ptr<azs_apps::webService> svc;
    std::thread runner;
};

// The settings of a configuration as a service cycle reads them: once, each mistyped "fuelweb" key
// said at warning under "fuelweb".
std::shared_ptr<const azs_apps::settings> settingsOf(const azs_apps::webConfig& file);

struct httpReply {
    int status = 0;
    std::string body;
    std::string contentType;
    std::string contentEncoding;
    std::string contentLanguage;
    std::string connection;
};

httpReply httpGet(uint16_t port, const std::string& uri);
httpReply httpPost(uint16_t port, const std::string& uri, const std::string& contentType,
                   const std::string& body);
// Any method, with a body when one is given (a GET may carry one too).
httpReply httpSend(uint16_t port, const std::string& method, const std::string& uri,
                   const std::string& contentType, const std::string& body);

// A loopback port that was free a moment ago.
uint16_t freePort();

// Configuration text with the "fuelweb" keys given as JSON members (e.g. "\"ctl_key\":\"s\"").
std::string configWith(const std::string& fuelwebMembers, const std::string& serviceMembers = "");

}  // namespace webtest
