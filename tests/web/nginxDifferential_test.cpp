// The front against nginx, request by request: the same raw bytes go to fuelweb's front and to an
// nginx started by the test, each client ending its side after the bytes (so a request cut short
// is cut short for both), and the answers are counted. fuelweb must never serve what nginx
// refuses, and must frame every stream into as many requests as nginx does, except where the table
// names a deliberate difference and the rule of HTTP/1.1 behind it; there fuelweb is the stricter
// of the two.
#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <iostream>
#include <string>
#include <vector>

#include "frontTestSupport.h"
#include "loopbackClient.h"
#include "nginxPeer.h"

namespace {

const std::string ECHO = "/api/fuelweb/echo";
const std::string HOST = "Host: x\r\n";

std::string get(const std::string& fields = HOST, const std::string& version = "HTTP/1.1")
{
    return "GET " + ECHO + " " + version + "\r\n" + fields + "\r\n";
}

std::string post(const std::string& fields, const std::string& body = "")
{
    return "POST " + ECHO + " HTTP/1.1\r\n" + HOST + fields + "\r\n" + body;
}

std::string chunked(const std::string& chunks, const std::string& coding = "chunked")
{
    return post("Transfer-Encoding: " + coding + "\r\n", chunks);
}

std::string manyFields(int n)
{
    std::string f = HOST;
    for (int i = 0; i < n; ++i) f += "X-" + std::to_string(i) + ": v\r\n";
    return f;
}

// Why fuelweb refuses what nginx serves.
const char* const BARE_LF =
    "RFC 9112 2.2: a line ends with CRLF; a recipient MAY take LF alone, a "
    "peer that does not frames the bytes otherwise";
const char* const LIMIT =
    "RFC 9112 3 and RFC 6585 5: the front's own limits (16 KB target, 64 KB head, "
    "100 fields), larger in nginx's test configuration";
const char* const HOST_SYNTAX =
    "RFC 9112 3.2: Host is uri-host [\":\" port] (RFC 3986 3.2.2-3.2.3); a "
    "server MUST answer 400 to an invalid Host";
const char* const FIELD_SYNTAX =
    "RFC 9112 5: field-line = field-name \":\" OWS field-value OWS, the name "
    "a token; nginx drops such lines, the front refuses the request";

struct diffCase {
    const char* name;
    std::string request;
    const char* deliberate = nullptr;  // why fuelweb refuses where nginx serves; null: they agree
};

const std::vector<diffCase>& cases()
{
    static const std::vector<diffCase> table = {
        // Bodies framed by Content-Length.
        {"get", get()},
        {"length 3", post("Content-Length: 3\r\n", "abc")},
        {"length 0", post("Content-Length: 0\r\n")},
        {"length with leading zeros", post("Content-Length: 003\r\n", "abc")},
        {"length between spaces", post("Content-Length:  3 \r\n", "abc")},
        {"length without space after the colon", post("Content-Length:3\r\n", "abc")},
        {"two different lengths", post("Content-Length: 3\r\nContent-Length: 5\r\n", "abcde")},
        {"the same length twice", post("Content-Length: 3\r\nContent-Length: 3\r\n", "abc")},
        {"length -1", post("Content-Length: -1\r\n", "abc")},
        {"length +3", post("Content-Length: +3\r\n", "abc")},
        {"length list 3, 3", post("Content-Length: 3, 3\r\n", "abc")},
        {"length in hex", post("Content-Length: 0x3\r\n", "abc")},
        {"length of 19 digits", post("Content-Length: 1000000000000000000\r\n", "abc")},
        {"length with chunked",
         post("Content-Length: 3\r\nTransfer-Encoding: chunked\r\n", "3\r\nabc\r\n0\r\n\r\n")},
        {"chunked with length",
         post("Transfer-Encoding: chunked\r\nContent-Length: 3\r\n", "3\r\nabc\r\n0\r\n\r\n")},
        {"space before the colon of the length", post("Content-Length : 3\r\n", "abc")},

        // Chunked bodies.
        {"chunked with extension and trailer",
         chunked("3;x=1\r\nabc\r\nA\r\n0123456789\r\n0\r\nT: v\r\n\r\n")},
        {"chunked in capitals", chunked("2\r\nab\r\n0\r\n\r\n", "Chunked")},
        {"gzip then chunked", chunked("3\r\nabc\r\n0\r\n\r\n", "gzip, chunked")},
        {"chunked then gzip", chunked("3\r\nabc\r\n0\r\n\r\n", "chunked, gzip")},
        {"identity", chunked("abc", "identity")},
        {"chunked twice", chunked("3\r\nabc\r\n0\r\n\r\n", "chunked, chunked")},
        {"chunked in two fields",
         post("Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n", "3\r\nabc\r\n0\r\n\r\n")},
        {"chunked in HTTP/1.0",
         "POST " + ECHO + " HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n"},
        {"chunk size zz", chunked("zz\r\nabc\r\n0\r\n\r\n")},
        {"chunk size -5", chunked("-5\r\nabcde\r\n0\r\n\r\n")},
        {"chunk size of 20 hex digits", chunked("00000000000000000003\r\nabc\r\n0\r\n\r\n"),
         "RFC 9112 7.1: a recipient MUST prevent the overflow of a chunk size; the front takes at most 15 "
         "hex "
         "digits"},
        {"junk after the chunk size", chunked("3 x\r\nabc\r\n0\r\n\r\n"),
         "RFC 9112 7.1.1: what follows a chunk size is a chunk-ext, \";\" name [\"=\" value]"},
        {"chunk longer than its size", chunked("3\r\nabcd\r\n0\r\n\r\n")},
        {"trailer that names a length", chunked("3\r\nabc\r\n0\r\nContent-Length: 9\r\n\r\n")},
        {"vertical tab before chunked", post("Transfer-Encoding: \x0b"
                                             "chunked\r\n",
                                             "3\r\nabc\r\n0\r\n\r\n")},

        // Line ends.
        {"lines ended by LF alone", "GET " + ECHO + " HTTP/1.1\nHost: x\n\n", BARE_LF},
        {"bare LF ending the request line", "GET " + ECHO + " HTTP/1.1\n" + HOST + "\r\n", BARE_LF},
        {"bare LF ending a field", get(HOST + "X-A: 1\n"), BARE_LF},
        {"bare LF before the length hides a request in the body",
         post("Dummy: x\nContent-Length: 43\r\n", get()), BARE_LF},
        {"bare LF after a chunk size", chunked("3\nabc\r\n0\r\n\r\n"), BARE_LF},
        {"bare LF after chunk data", chunked("3\r\nabc\n0\r\n\r\n"), BARE_LF},
        {"bare CR in a field", get(HOST + "X-A: 1\r2\r\n")},
        {"bare CR in the request line", "GET " + ECHO + "\r HTTP/1.1\r\n" + HOST + "\r\n"},
        {"empty line before the request", "\r\n" + get()},
        {"empty line of LF alone before the request", "\n" + get()},

        // Request lines.
        {"double space", "GET  " + ECHO + " HTTP/1.1\r\n" + HOST + "\r\n",
         "RFC 9112 3: request-line = method SP request-target SP HTTP-version, single spaces"},
        {"version 2.0", get(HOST, "HTTP/2.0")},
        {"version 1.2", get(HOST, "HTTP/1.2")},
        {"version in lower case", get(HOST, "http/1.1")},
        {"version 1.10", get(HOST, "HTTP/1.10"), "RFC 9112 2.3: HTTP-version = \"HTTP/\" DIGIT \".\" DIGIT"},
        {"no version", "GET " + ECHO + "\r\n" + HOST + "\r\n",
         "RFC 9112 3: an HTTP/1.1 request line names its version; the front does not speak HTTP/0.9"},
        {"four parts", "GET " + ECHO + " HTTP/1.1 x\r\n" + HOST + "\r\n"},
        {"target not a path", "GET echo HTTP/1.1\r\n" + HOST + "\r\n"},
        {"asterisk for GET", "GET * HTTP/1.1\r\n" + HOST + "\r\n"},
        {"control byte in the target", "GET " + ECHO + "\x01 HTTP/1.1\r\n" + HOST + "\r\n"},
        {"target over 16 KB", "GET " + ECHO + "?" + std::string(17000, 'a') + " HTTP/1.1\r\n" + HOST + "\r\n",
         LIMIT},
        {"absolute target", "GET http://x" + ECHO + "?q=1 HTTP/1.1\r\n" + HOST + "\r\n"},
        {"absolute target with userinfo", "GET http://u:p@x" + ECHO + " HTTP/1.1\r\n" + HOST + "\r\n"},
        {"absolute target of another scheme", "GET ftp://x" + ECHO + " HTTP/1.1\r\n" + HOST + "\r\n",
         "RFC 9110 7.4: a server rejects a target it is not the origin of; the front serves http and https"},
        {"unknown method", "BREW " + ECHO + " HTTP/1.1\r\n" + HOST + "\r\n"},

        // Header fields.
        {"no Host", get("")},
        {"no Host in HTTP/1.0", get("", "HTTP/1.0")},
        {"two Host fields", get(HOST + HOST)},
        {"Host with a space", get("Host: a b\r\n")},
        {"empty Host", get("Host:\r\n")},
        {"Host with a port", get("Host: x.example:8080\r\n")},
        {"Host an IPv6 literal", get("Host: [::1]:80\r\n")},
        {"Host with escapes", get("Host: a%2Db\r\n")},
        {"Host with userinfo", get("Host: u@x\r\n"), HOST_SYNTAX},
        {"Host port not digits", get("Host: x:8o\r\n"), HOST_SYNTAX},
        {"Host with a path", get("Host: x/y\r\n")},
        {"space before a colon", get(HOST + "X-A : 1\r\n")},
        {"folded field", get(HOST + "X-A: 1\r\n 2\r\n")},
        {"NUL in a value", get(HOST + std::string("X-A: 1\0"
                                                  "2\r\n",
                                                  9))},
        {"field without colon", get(HOST + "X-A\r\n"), FIELD_SYNTAX},
        {"field name not a token", get(HOST + "X(A): 1\r\n"), FIELD_SYNTAX},
        {"underscore in a field name", get(HOST + "X_A: 1\r\n")},
        {"bytes above 0x7f in a value", get(HOST + "X-A: \xd0\xb0\xff\r\n")},
        {"101 fields", get(manyFields(100)), LIMIT},
        {"head over 64 KB", get(HOST + "X-A: " + std::string(70000, 'v') + "\r\n"), LIMIT},

        // Pipelining.
        {"three pipelined",
         get() + post("Content-Length: 1\r\n", "x") + "PUT " + ECHO + " HTTP/1.1\r\n" + HOST + "\r\n"},
        {"pipelined after connection close", get(HOST + "Connection: close\r\n") + get()},
        {"pipelined after HTTP/1.0", get("", "HTTP/1.0") + get()},
        {"pipelined, the second with two lengths",
         get() + post("Content-Length: 1\r\nContent-Length: 2\r\n", "xy") + get()},
        {"a request inside a body", post("Content-Length: 43\r\n", get()) + get()},
        {"chunked then get", chunked("3\r\nabc\r\n0\r\n\r\n") + get()},
        {"get with a body then get", get(HOST + "Content-Length: 2\r\n") + "xy" + get()},
        {"expect 100-continue then get",
         post("Content-Length: 3\r\nExpect: 100-continue\r\n", "abc") + get()},
        {"body longer than its length", post("Content-Length: 3\r\n", "abcde") + get()},
        {"CRLF between pipelined requests", get() + "\r\n" + get()},

        // The client ending its side.
        {"half-closed after a request", get()},
        {"half-closed in the request line", "GET " + ECHO},
        {"half-closed in the head", "GET " + ECHO + " HTTP/1.1\r\nHost: x\r\n"},
        {"half-closed in the body", post("Content-Length: 10\r\n", "abc")},
        {"half-closed in a chunk", chunked("5\r\nab")},
        {"half-closed before the last chunk", chunked("3\r\nabc\r\n")},
        {"half-closed in the second request", get() + "GET " + ECHO + " HTTP/1.1\r\n"},
    };
    return table;
}

// What a server did with a stream: the requests it served (2xx answers) before it closed.
struct verdict {
    int served = 0;
    std::string statuses;  // "200 200 400", for the trace
};

class streamClient : public testsupport::loopbackClient {
public:
    using loopbackClient::loopbackClient;
    // Everything the server sends until it closes (or 10 s pass).
    std::string readAll()
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (fill(deadline)) {
        }
        return pending;
    }
};

// The answers in what a server sent: status lines with their bodies, counted until something
// that is no HTTP/1.x answer (nginx answers a request without version in HTTP/0.9, body alone).
verdict readAnswers(std::string bytes)
{
    verdict v;
    while (!bytes.empty()) {
        if (bytes.compare(0, 7, "HTTP/1.") != 0) {
            ++v.served;
            v.statuses += "0.9 ";
            break;
        }
        size_t end = bytes.find("\r\n\r\n");
        if (end == std::string::npos) break;
        std::string head = bytes.substr(0, end + 2);
        int status = std::atoi(head.c_str() + 9);
        size_t length = 0;
        for (const char* name : {"\r\nContent-Length:", "\r\ncontent-length:"}) {
            size_t at = head.find(name);
            if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 17, nullptr, 10);
        }
        bytes.erase(0, end + 4 + length);
        v.statuses += std::to_string(status) + " ";
        if (status >= 200 && status < 300) ++v.served;
    }
    return v;
}

verdict probe(uint16_t port, const std::string& request)
{
    streamClient client(port);
    if (!client.connected()) return {-1, "not connected"};
    client.send(request);
    client.endSending();
    return readAnswers(client.readAll());
}

TEST(NginxDifferential, FuelwebFramesNoStreamOtherwiseThanNginxBeyondItsListedDifferences)
{
    const std::string program = webtest::nginxPeer::program();
    if (program.empty())
        GTEST_SKIP() << "nginx is not installed (scripts/deps.sh installs it): no peer to compare with";
    webtest::nginxPeer nginx(program);
    ASSERT_TRUE(nginx.started()) << nginx.error();
    webtest::routeService front;

    const std::vector<diffCase>& table = cases();
    ASSERT_GE(table.size(), 60u);
    std::vector<std::future<std::pair<verdict, verdict>>> results;
    for (const diffCase& c : table)
        results.push_back(std::async(std::launch::async, [&] {
            auto ours = std::async(std::launch::async, [&] { return probe(front.port(), c.request); });
            verdict theirs = probe(nginx.port(), c.request);
            return std::make_pair(ours.get(), theirs);
        }));

    int agree = 0, deliberate = 0;
    for (size_t i = 0; i < table.size(); ++i) {
        const diffCase& c = table[i];
        const auto [ours, theirs] = results[i].get();
        SCOPED_TRACE(std::string(c.name) + ": fuelweb " + ours.statuses + "| nginx " + theirs.statuses);
        ASSERT_GE(ours.served, 0);
        ASSERT_GE(theirs.served, 0);
        EXPECT_LE(ours.served, theirs.served) << "fuelweb served a request that nginx refused";
        if (c.deliberate == nullptr) {
            EXPECT_EQ(ours.served, theirs.served) << "framed into another number of requests";
            ++agree;
        } else {
            EXPECT_LT(ours.served, theirs.served) << "listed as a difference, but the two agree";
            ++deliberate;
        }
    }
    std::cout << table.size() << " streams: " << agree << " framed alike, " << deliberate
              << " deliberate differences" << std::endl;
}

}  // namespace
