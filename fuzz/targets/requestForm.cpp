// The parameters of the platform's requests as every endpoint reads them: the query string, the
// form fields of a POST body (URL-encoded or multipart), a non-empty form field replacing the
// query's value, and the caller's keys cut from "apikey".
//
// Input: byte 0 chooses the method and the content type; the first line after it is the request
// target below the script path, the rest is the body.
//
// What must hold:
//  - reading a request, its path and its parameters never throws, whatever the bytes;
//  - a plain query (no escapes) gives each parameter the value written after its first "name=";
//    a plain URL-encoded POST body does the same for its fields and wins when not empty;
//  - the keys cut from "apikey" hold no comma and are its pieces in order; they pass the check
//    exactly when each equals the configured key (the client key only needs to be there).
#include <algorithm>
#include <cctype>
#include <iterator>

#include "apiKeys.h"
#include "fuzzSupport.h"
#include "fuzzTarget.h"
#include "httpContext.h"
#include "master.h"

namespace {

using azs_apps::apiKeys;
using azs_apps::httpContext;

// The endpoints' own way of reading a parameter.
struct requestReader : azs_apps::master {
    using master::param;
};

const char* const CONTENT_TYPES[] = {
    "",
    "application/x-www-form-urlencoded",
    "application/x-www-form-urlencoded; charset=utf-8",
    "multipart/form-data; boundary=XyZ",
    "Multipart/Form-Data;boundary=\"XyZ\"",
    "application/json",
    "text/plain",
    "APPLICATION/X-WWW-FORM-URLENCODED",
};
constexpr size_t CONTENT_TYPE_COUNT = std::size(CONTENT_TYPES);

// The parameters every endpoint reads, and one none does.
const char* const PARAMS[] = {"apikey", "columnId", "orderId", "__lock", "none"};

const std::string SERVER_KEY = "server-key";
const std::string STATION_KEY = "station-key";

bool urlEncodedType(const std::string& type)
{
    std::string t = type.substr(0, type.find(';'));
    std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return std::tolower(c); });
    return t == "application/x-www-form-urlencoded";
}

// Text that the form reader takes as written: printable ASCII without escapes, few fields.
bool plain(const std::string& text)
{
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
    return printable && text.find_first_of("%+#") == std::string::npos &&
           std::count(text.begin(), text.end(), '&') < 50;
}

bool sameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The value after the first "name=" of a plain field list, empty when the name is not there.
std::string plainValue(const std::string& fields, const std::string& name)
{
    size_t start = 0;
    while (start <= fields.size()) {
        size_t end = fields.find('&', start);
        if (end == std::string::npos) end = fields.size();
        const std::string pair = fields.substr(start, end - start);
        const size_t eq = pair.find('=');
        if (sameName(pair.substr(0, eq), name)) return eq == std::string::npos ? "" : pair.substr(eq + 1);
        start = end + 1;
    }
    return "";
}

void checkKeys(const std::string& apikey)
{
    for (apiKeys::layout l : {apiKeys::withClient, apiKeys::stationOnly}) {
        const apiKeys k = apiKeys::parse(apikey, l);
        const std::string joined = l == apiKeys::withClient ? k.client + "," + k.server + "," + k.station
                                                            : k.server + "," + k.station;
        FUZZ_CHECK((k.client + k.server + k.station).find(',') == std::string::npos);
        FUZZ_CHECK((apikey + ",,,").compare(0, joined.size(), joined) == 0);
        if (l == apiKeys::stationOnly) FUZZ_CHECK(k.client.empty());

        apiKeys::verdict expected = apiKeys::ok;
        if (k.station != STATION_KEY) expected = apiKeys::badStation;
        if (k.server != SERVER_KEY) expected = apiKeys::badServer;
        if (l == apiKeys::withClient && k.client.empty()) expected = apiKeys::badClient;
        FUZZ_CHECK(k.check(l, SERVER_KEY, STATION_KEY) == expected);
        FUZZ_CHECK(azs_apps::sameKey(k.server, SERVER_KEY) == (k.server == SERVER_KEY));
        FUZZ_CHECK(!azs_apps::sameKey(k.server, ""));
    }
}

void readRequest(const std::string& method, const std::string& target, const std::string& type,
                 const std::string& body)
{
    const std::string uri = "/api/fuelweb" + target;
    try {
        const auto context = fuzzing::requestContext(method, uri, type, body);
        httpContext& ctx = *context;
        FUZZ_CHECK(ctx.rawBody() == body);
        (void)ctx.path();

        const size_t q = target.find('?');
        const std::string query = q == std::string::npos ? "" : target.substr(q + 1);
        for (const char* name : PARAMS) {
            const std::string fromQuery = ctx.get(name);
            const std::string value = requestReader::param(ctx, name);
            if (plain(query)) FUZZ_CHECK(fromQuery == plainValue(query, name));
            if (method != "POST") FUZZ_CHECK(value == fromQuery);
            if (method == "POST" && urlEncodedType(type) && plain(body)) {
                const std::string posted = plainValue(body, name);
                FUZZ_CHECK(value == (posted.empty() ? fromQuery : posted));
            }
            if (std::string(name) == "apikey") checkKeys(value);
        }
    } catch (const fuzzing::checkFailed&) {
        throw;
    } catch (...) {
        FUZZ_CHECK(!"reading the request threw");
    }
}

}  // namespace

FUZZ_TARGET(requestForm)
{
    fuzzing::quietLogs();
    if (input.empty()) return;
    const unsigned char choice = static_cast<unsigned char>(input[0]);
    const std::string method = choice & 1 ? "POST" : "GET";
    const std::string type = CONTENT_TYPES[(choice >> 1) % CONTENT_TYPE_COUNT];
    const std::string_view rest = input.substr(1);
    const size_t lf = rest.find('\n');
    const std::string target(rest.substr(0, lf));
    const std::string body(lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1));
    readRequest(method, target, type, body);
}
