#pragma once
// One POST to the ordering platform, the only HTTP client code of the service. The notices and
// the station-data push build their URL, body and headers and log in their own words; how the
// request goes out (libcurl options, TLS, time-out, the answer body) is decided here once.
#include <cstdint>
#include <string>
#include <vector>

namespace azs_apps {
namespace upstream {

// Where the platform is and how far its certificate is trusted.
struct settings {
    std::string endpoint;    // "fuelweb.upstream_endpoint": base URL of every notice
    bool verifyTls = false;  // "fuelweb.upstream_verify_tls": check the platform's certificate
    std::string caFile;      // "fuelweb.upstream_ca_file": CA bundle for that check; empty = system
};

struct postRequest {
    std::string url;
    std::string body;
    std::vector<std::string> headers;
    long timeoutSec = 10;
    // The notice's path below the platform's endpoint ("/volume", "/callback/prices", ...), the
    // kind under which the attempt is counted.
    std::string kind;
};

// Outcome of one transfer.
struct postResult {
    enum outcome { answered, setupFailed, noHandle, transferFailed };
    outcome result = setupFailed;
    int64_t status = 0;  // HTTP status of the answer; 500 no handle or libcurl unusable; 502 no answer
    int curlCode = 0;    // libcurl's code of the failure (0 when the transfer went through)
    std::string error;   // libcurl's text for that code
    std::string answer;  // start of the platform's answer body, for the debug log
};

// TLS options a URL gets: verification is switched off for https unless it was asked for.
struct tlsOptions {
    bool https = false;
    long verifyPeer = 1;
    long verifyHost = 2;
    std::string caInfo;
};
tlsOptions tlsFor(const std::string& url, const settings& s);

// libcurl's process-wide set-up, done once (main calls it before any thread starts; the first
// transfer does it otherwise). Its result code is kept: a failed set-up makes every transfer
// fail with status 500.
int globalInit();
std::string globalInitError();

// Sends the request and waits for the answer (or the time-out). Every call is counted as one
// attempt of its kind, with the answer's status or as an error when no answer came.
postResult post(const postRequest& req, const settings& s);

// Body cursor of a transfer, read by libcurl through read_callback.
struct uploadCursor {
    const char* start;
    const char* next;
    size_t left;
};
size_t read_callback(char* buffer, size_t size, size_t nitems, void* cursor);
// Rewinds the cursor, so that a redirect that keeps the method (307, 308) can send the body again.
int seek_callback(void* cursor, int64_t offset, int origin);

}  // namespace upstream
}  // namespace azs_apps
