#include "upstreamTransfer.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "stationMetrics.h"

namespace azs_apps {
namespace upstream {

namespace {

// Only the start of the platform's answer is kept, for a debug line.
constexpr size_t ANSWER_KEPT = 512;
constexpr long MAX_REDIRECTS = 10;

std::once_flag initOnce;
CURLcode initCode = CURLE_OK;

size_t keepAnswer(char* data, size_t size, size_t nmemb, void* userp)
{
    std::string& kept = *static_cast<std::string*>(userp);
    size_t n = size * nmemb;
    if (kept.size() < ANSWER_KEPT) kept.append(data, std::min(n, ANSWER_KEPT - kept.size()));
    return n;
}

struct headerList {
    curl_slist* list = nullptr;
    ~headerList() { curl_slist_free_all(list); }
};

struct easyHandle {
    CURL* h = curl_easy_init();
    ~easyHandle()
    {
        if (h != nullptr) curl_easy_cleanup(h);
    }
};

}  // namespace

int globalInit()
{
    std::call_once(initOnce, [] { initCode = curl_global_init(CURL_GLOBAL_ALL); });
    return static_cast<int>(initCode);
}

std::string globalInitError()
{
    return curl_easy_strerror(initCode);
}

tlsOptions tlsFor(const std::string& url, const settings& s)
{
    tlsOptions t;
    t.https = url.size() >= 6 && strncasecmp(url.c_str(), "https:", 6) == 0;
    if (!t.https) return t;
    t.verifyPeer = s.verifyTls ? 1 : 0;
    t.verifyHost = s.verifyTls ? 2 : 0;
    if (s.verifyTls) t.caInfo = s.caFile;
    return t;
}

size_t read_callback(char* buffer, size_t size, size_t nitems, void* cursor)
{
    uploadCursor& c = *static_cast<uploadCursor*>(cursor);
    size_t n = std::min(c.left, size * nitems);
    if (n == 0) return 0;
    std::memcpy(buffer, c.next, n);
    c.next += n;
    c.left -= n;
    return n;
}

static_assert(std::is_same<curl_off_t, int64_t>::value, "seek_callback takes libcurl's offset type");

int seek_callback(void* cursor, int64_t offset, int origin)
{
    uploadCursor& c = *static_cast<uploadCursor*>(cursor);
    size_t total = static_cast<size_t>(c.next - c.start) + c.left;
    if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > total)
        return CURL_SEEKFUNC_CANTSEEK;
    c.next = c.start + offset;
    c.left = total - static_cast<size_t>(offset);
    return CURL_SEEKFUNC_OK;
}

namespace {

postResult transfer(const postRequest& req, const settings& s)
{
    postResult r;
    r.status = 500;
    if (globalInit() != 0) {
        r.curlCode = static_cast<int>(initCode);
        r.error = globalInitError();
        return r;
    }
    easyHandle curl;
    if (curl.h == nullptr) {
        r.result = postResult::noHandle;
        return r;
    }
    CURL* h = curl.h;

    uploadCursor cursor{req.body.data(), req.body.data(), req.body.size()};
    headerList headers;
    for (const std::string& line : req.headers) headers.list = curl_slist_append(headers.list, line.c_str());
    tlsOptions tls = tlsFor(req.url, s);

    curl_easy_setopt(h, CURLOPT_URL, req.url.c_str());
    if (tls.https) {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, tls.verifyPeer);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, tls.verifyHost);
        if (!tls.caInfo.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, tls.caInfo.c_str());
    }
    // Worker threads must never get libcurl's SIGALRM for name look-ups.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, read_callback);
    curl_easy_setopt(h, CURLOPT_READDATA, &cursor);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, seek_callback);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, &cursor);
    curl_easy_setopt(h, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, req.timeoutSec);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(req.body.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.list);
    // The platform's answer body means nothing to us; without a callback libcurl would print it
    // on standard output.
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, keepAnswer);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &r.answer);

    r.status = 502;
    CURLcode rc = curl_easy_perform(h);
    if (rc != CURLE_OK) {
        r.result = postResult::transferFailed;
        r.curlCode = static_cast<int>(rc);
        r.error = curl_easy_strerror(rc);
        return r;
    }
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    r.status = code;
    r.result = postResult::answered;
    return r;
}

}  // namespace

postResult post(const postRequest& req, const settings& s)
{
    postResult r = transfer(req, s);
    stationMetrics::noticeAttempt(req.kind,
                                  r.result == postResult::answered ? static_cast<int>(r.status) : 0);
    return r;
}

}  // namespace upstream
}  // namespace azs_apps
