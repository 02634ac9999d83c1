// How the service frames requests: which bytes make a request, which are refused with which
// status, whether the connection is kept, and what the handler got. Every case goes over a raw
// socket, byte for byte as written here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontTestSupport.h"
#include "pocoLogCapture.h"
#include "rawClient.h"

namespace {

const std::string ECHO = "/api/fuelweb/echo";
const std::string HOST = "Host: x\r\n";

std::string post(const std::string& fields, const std::string& body = "")
{
    return "POST " + ECHO + " HTTP/1.1\r\n" + HOST + fields + "\r\n" + body;
}

std::string withLength(const std::string& length, const std::string& body = "abc")
{
    return post("Content-Length: " + length + "\r\n", body);
}

std::string chunked(const std::string& chunks, const std::string& coding = "chunked")
{
    return post("Transfer-Encoding: " + coding + "\r\n", chunks);
}

std::string line(const std::string& requestLine, const std::string& fields = HOST)
{
    return requestLine + "\r\n" + fields + "\r\n";
}

struct frameCase {
    const char* name;
    std::string request;
    const char* statusLine;  // how the answer starts
    bool closed;             // the service ends the connection after the answer
    const char* saw;         // the answer of /echo: what the handler got; "" when it must not run
    bool halfClose = false;  // the client ends its side after the request
};

const std::vector<frameCase>& cases()
{
    static const std::vector<frameCase> table = {
        // Served.
        {"get", line("GET " + ECHO + " HTTP/1.1"), "HTTP/1.1 200", false, "GET|"},
        {"post without length has an empty body", post(""), "HTTP/1.1 200", false, "POST|"},
        {"put without length", "PUT " + ECHO + " HTTP/1.1\r\n" + HOST + "\r\n", "HTTP/1.1 200", false,
         "PUT|"},
        {"options without length", line("OPTIONS " + ECHO + " HTTP/1.1"), "HTTP/1.1 200", false, "OPTIONS|"},
        {"unknown method without length", line("BREW " + ECHO + " HTTP/1.1"), "HTTP/1.1 200", false, "BREW|"},
        {"content length", withLength("3"), "HTTP/1.1 200", false, "POST|abc"},
        {"content length with leading zeros", withLength("003"), "HTTP/1.1 200", false, "POST|abc"},
        {"content length 0", withLength("0", ""), "HTTP/1.1 200", false, "POST|"},
        {"chunked with extension and trailer",
         chunked("3;x=1\r\nabc\r\nA\r\n0123456789\r\n0\r\nT: v\r\n\r\n"), "HTTP/1.1 200", false,
         "POST|abc0123456789"},
        {"chunked, coding name in capitals", chunked("2\r\nab\r\n0\r\n\r\n", "Chunked"), "HTTP/1.1 200",
         false, "POST|ab"},
        {"empty line before the request", "\r\n" + line("GET " + ECHO + " HTTP/1.1"), "HTTP/1.1 200", false,
         "GET|"},
        {"empty line of LF alone before the request", "\n" + line("GET " + ECHO + " HTTP/1.1"),
         "HTTP/1.1 200", false, "GET|"},
        {"host with port", line("GET " + ECHO + " HTTP/1.1", "Host: x.example:8080\r\n"), "HTTP/1.1 200",
         false, "GET|"},
        {"host an IPv4 address", line("GET " + ECHO + " HTTP/1.1", "Host: 127.0.0.1:80\r\n"), "HTTP/1.1 200",
         false, "GET|"},
        {"host an IPv6 literal", line("GET " + ECHO + " HTTP/1.1", "Host: [::1]:80\r\n"), "HTTP/1.1 200",
         false, "GET|"},
        {"host an IPvFuture literal", line("GET " + ECHO + " HTTP/1.1", "Host: [v1.fe:x]\r\n"),
         "HTTP/1.1 200", false, "GET|"},
        {"host with escapes and sub-delimiters",
         line("GET " + ECHO + " HTTP/1.1", "Host: a%2Db!$&'()*+,;=\r\n"), "HTTP/1.1 200", false, "GET|"},
        {"absolute target", line("GET http://x" + ECHO + "?q=1 HTTP/1.1"), "HTTP/1.1 200", false, "GET|"},
        {"HTTP/1.0 is answered as such and closed", line("GET " + ECHO + " HTTP/1.0", ""), "HTTP/1.0 200",
         true, "GET|"},
        {"HTTP/1.2 is served as 1.1", line("GET " + ECHO + " HTTP/1.2"), "HTTP/1.1 200", false, "GET|"},
        {"connection close", line("GET " + ECHO + " HTTP/1.1", HOST + "Connection: close\r\n"),
         "HTTP/1.1 200", true, "GET|"},

        // Lengths that do not say one thing.
        {"two different lengths", post("Content-Length: 3\r\nContent-Length: 5\r\n", "abcde"), "HTTP/1.1 400",
         true, ""},
        {"the same length twice", post("Content-Length: 3\r\nContent-Length: 3\r\n", "abc"), "HTTP/1.1 400",
         true, ""},
        {"length -1", withLength("-1"), "HTTP/1.1 400", true, ""},
        {"length +3", withLength("+3"), "HTTP/1.1 400", true, ""},
        {"length abc", withLength("abc"), "HTTP/1.1 400", true, ""},
        {"length list 3, 3", withLength("3, 3"), "HTTP/1.1 400", true, ""},
        {"length list 3, 4", withLength("3, 4"), "HTTP/1.1 400", true, ""},
        {"length 3 3", withLength("3 3"), "HTTP/1.1 400", true, ""},
        {"empty length", withLength(""), "HTTP/1.1 400", true, ""},
        {"length in hex", withLength("0x3"), "HTTP/1.1 400", true, ""},
        {"length of 19 digits", withLength("1000000000000000000"), "HTTP/1.1 400", true, ""},
        {"length beyond the body limit", withLength("10000000000", std::string(1024, 'a')), "HTTP/1.1 413",
         true, ""},
        {"length with chunked",
         post("Content-Length: 3\r\nTransfer-Encoding: chunked\r\n", "3\r\nabc\r\n0\r\n\r\n"), "HTTP/1.1 400",
         true, ""},
        {"chunked with length",
         post("Transfer-Encoding: chunked\r\nContent-Length: 3\r\n", "3\r\nabc\r\n0\r\n\r\n"), "HTTP/1.1 400",
         true, ""},
        {"half-closed in the middle of the body", withLength("10"), "HTTP/1.1 400", true, "", true},

        // Transfer codings and chunks.
        {"gzip then chunked", chunked("3\r\nabc\r\n0\r\n\r\n", "gzip, chunked"), "HTTP/1.1 501", true, ""},
        {"chunked not last", chunked("3\r\nabc\r\n0\r\n\r\n", "chunked, gzip"), "HTTP/1.1 400", true, ""},
        {"identity alone", chunked("abc", "identity"), "HTTP/1.1 400", true, ""},
        {"chunked twice", chunked("3\r\nabc\r\n0\r\n\r\n", "chunked, chunked"), "HTTP/1.1 400", true, ""},
        {"chunked in HTTP/1.0",
         "POST " + ECHO + " HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         "HTTP/1.0 400", true, ""},
        {"chunk size zz", chunked("zz\r\nabc\r\n0\r\n\r\n"), "HTTP/1.1 400", true, ""},
        {"chunk size -5", chunked("-5\r\nabcde\r\n0\r\n\r\n"), "HTTP/1.1 400", true, ""},
        {"chunk size of 20 hex digits", chunked("00000000000000000003\r\nabc\r\n0\r\n\r\n"), "HTTP/1.1 400",
         true, ""},
        {"empty chunk size", chunked("\r\nabc\r\n0\r\n\r\n"), "HTTP/1.1 400", true, ""},
        {"junk after chunk size", chunked("3 x\r\nabc\r\n0\r\n\r\n"), "HTTP/1.1 400", true, ""},
        {"chunk longer than its size", chunked("3\r\nabcd\r\n0\r\n\r\n"), "HTTP/1.1 400", true, ""},
        {"chunks beyond the body limit", chunked("100001\r\n"), "HTTP/1.1 413", true, ""},

        // Lines ended by LF alone: a reader that splits only at CRLF frames these bytes otherwise.
        {"lines ended by LF alone", "GET " + ECHO + " HTTP/1.1\nHost: x\n\n", "HTTP/1.1 400", true, ""},
        {"bare LF ending the request line", "GET " + ECHO + " HTTP/1.1\n" + HOST + "\r\n", "HTTP/1.1 400",
         true, ""},
        {"bare LF ending a field", line("GET " + ECHO + " HTTP/1.1", HOST + "X-A: 1\n"), "HTTP/1.1 400", true,
         ""},
        {"bare LF before Content-Length hiding a request in the body",
         post("Dummy: x\nContent-Length: 43\r\n", line("GET " + ECHO + " HTTP/1.1")), "HTTP/1.1 400", true,
         ""},
        {"bare LF ending the head", "GET " + ECHO + " HTTP/1.1\r\n" + HOST + "\n", "HTTP/1.1 400", true, ""},
        {"bare LF after a chunk size", chunked("3\nabc\r\n0\r\n\r\n"), "HTTP/1.1 400", true, ""},
        {"bare LF after chunk data", chunked("3\r\nabc\n0\r\n\r\n"), "HTTP/1.1 400", true, ""},
        {"bare LF ending the trailers", chunked("3\r\nabc\r\n0\r\n\n"), "HTTP/1.1 400", true, ""},

        // Request lines.
        {"version 9.9", line("GET " + ECHO + " HTTP/9.9"), "HTTP/1.1 505", true, ""},
        {"version 2.0", line("GET " + ECHO + " HTTP/2.0"), "HTTP/1.1 505", true, ""},
        {"version 0.9", line("GET " + ECHO + " HTTP/0.9"), "HTTP/1.1 505", true, ""},
        {"version FOO", line("GET " + ECHO + " FOO"), "HTTP/1.1 400", true, ""},
        {"version in lower case", line("GET " + ECHO + " http/1.1"), "HTTP/1.1 400", true, ""},
        {"version 1.10", line("GET " + ECHO + " HTTP/1.10"), "HTTP/1.1 400", true, ""},
        {"method in lower case", line("get " + ECHO + " HTTP/1.1"), "HTTP/1.1 400", true, ""},
        {"two parts", line("GET " + ECHO), "HTTP/1.1 400", true, ""},
        {"four parts", line("GET " + ECHO + " HTTP/1.1 x"), "HTTP/1.1 400", true, ""},
        {"double space", line("GET  " + ECHO + " HTTP/1.1"), "HTTP/1.1 400", true, ""},
        {"empty target", line("GET  HTTP/1.1"), "HTTP/1.1 400", true, ""},
        {"target not a path", line("GET echo HTTP/1.1"), "HTTP/1.1 400", true, ""},
        {"asterisk for GET", line("GET * HTTP/1.1"), "HTTP/1.1 400", true, ""},
        {"control byte in target", line("GET " + ECHO + "\x01 HTTP/1.1"), "HTTP/1.1 400", true, ""},
        {"target over 16 KB", line("GET " + ECHO + "?" + std::string(17000, 'a') + " HTTP/1.1"),
         "HTTP/1.1 414", true, ""},

        // Header fields.
        {"no Host", line("GET " + ECHO + " HTTP/1.1", ""), "HTTP/1.1 400", true, ""},
        {"two Host fields", line("GET " + ECHO + " HTTP/1.1", HOST + HOST), "HTTP/1.1 400", true, ""},
        {"two different Host fields", line("GET " + ECHO + " HTTP/1.1", HOST + "host: y\r\n"), "HTTP/1.1 400",
         true, ""},
        {"Host with a space", line("GET " + ECHO + " HTTP/1.1", "Host: a b\r\n"), "HTTP/1.1 400", true, ""},
        {"empty Host", line("GET " + ECHO + " HTTP/1.1", "Host:\r\n"), "HTTP/1.1 400", true, ""},
        {"Host of a port alone", line("GET " + ECHO + " HTTP/1.1", "Host: :80\r\n"), "HTTP/1.1 400", true,
         ""},
        {"Host with userinfo", line("GET " + ECHO + " HTTP/1.1", "Host: u@x\r\n"), "HTTP/1.1 400", true, ""},
        {"Host with a path", line("GET " + ECHO + " HTTP/1.1", "Host: x/y\r\n"), "HTTP/1.1 400", true, ""},
        {"Host port not digits", line("GET " + ECHO + " HTTP/1.1", "Host: x:8o\r\n"), "HTTP/1.1 400", true,
         ""},
        {"Host IPv6 unbracketed", line("GET " + ECHO + " HTTP/1.1", "Host: ::1\r\n"), "HTTP/1.1 400", true,
         ""},
        {"Host bad IPv6 literal", line("GET " + ECHO + " HTTP/1.1", "Host: [::g]\r\n"), "HTTP/1.1 400", true,
         ""},
        {"Host unclosed IPv6 literal", line("GET " + ECHO + " HTTP/1.1", "Host: [::1\r\n"), "HTTP/1.1 400",
         true, ""},
        {"Host bad escape", line("GET " + ECHO + " HTTP/1.1", "Host: a%zz\r\n"), "HTTP/1.1 400", true, ""},
        {"Host in HTTP/1.0 checked too", line("GET " + ECHO + " HTTP/1.0", "Host: a b\r\n"), "HTTP/1.0 400",
         true, ""},
        {"absolute target with userinfo", line("GET http://u:p@x" + ECHO + "?apikey=k HTTP/1.1"),
         "HTTP/1.1 400", true, ""},
        {"absolute target with a bad host", line("GET http://a%zz" + ECHO + " HTTP/1.1"), "HTTP/1.1 400",
         true, ""},
        {"space before colon", line("GET " + ECHO + " HTTP/1.1", HOST + "X-A : 1\r\n"), "HTTP/1.1 400", true,
         ""},
        {"folded field", line("GET " + ECHO + " HTTP/1.1", HOST + "X-A: 1\r\n 2\r\n"), "HTTP/1.1 400", true,
         ""},
        {"NUL in a value",
         line("GET " + ECHO + " HTTP/1.1", HOST + std::string("X-A: 1\0"
                                                              "2\r\n",
                                                              9)),
         "HTTP/1.1 400", true, ""},
        {"bare CR in a field", line("GET " + ECHO + " HTTP/1.1", HOST + "X-A: 1\r2\r\n"), "HTTP/1.1 400",
         true, ""},
        {"field without colon", line("GET " + ECHO + " HTTP/1.1", HOST + "X-A\r\n"), "HTTP/1.1 400", true,
         ""},
        {"101 fields",
         line(
             "GET " + ECHO + " HTTP/1.1", HOST +
                                              [] {
                                                  std::string f;
                                                  for (int i = 0; i < 100; ++i)
                                                      f += "X-" + std::to_string(i) + ": v\r\n";
                                                  return f;
                                              }()),
         "HTTP/1.1 431", true, ""},
        {"head over 64 KB",
         line("GET " + ECHO + " HTTP/1.1", HOST + "X-A: " + std::string(70000, 'v') + "\r\n"), "HTTP/1.1 431",
         true, ""},
    };
    return table;
}

class Framing : public ::testing::Test {
protected:
    static std::unique_ptr<webtest::routeService> svc;
    static void SetUpTestSuite() { svc = std::make_unique<webtest::routeService>(); }
    static void TearDownTestSuite() { svc.reset(); }
};
std::unique_ptr<webtest::routeService> Framing::svc;

TEST_F(Framing, EveryCaseGetsItsStatusConnectionAndBody)
{
    for (const frameCase& c : cases()) {
        SCOPED_TRACE(c.name);
        int callsBefore = svc->routes.echoCalls;
        webtest::rawClient client(svc->port());
        ASSERT_TRUE(client.connected());
        client.send(c.request);
        if (c.halfClose) client.endSending();
        webtest::rawAnswer a = client.read();
        ASSERT_TRUE(a.complete) << a.head;
        EXPECT_EQ(a.statusLine.substr(0, 12), c.statusLine) << a.head;
        EXPECT_NE(a.head.find("\r\nContent-Length: "), std::string::npos) << a.head;
        EXPECT_EQ(a.body, c.saw);
        EXPECT_EQ(svc->routes.echoCalls - callsBefore, *c.saw ? 1 : 0);
        if (c.closed) {
            EXPECT_NE(a.head.find("\r\nConnection: Close"), std::string::npos) << a.head;
            EXPECT_TRUE(client.closedWithin(3000));
        } else {
            // The connection serves the next request.
            client.send(line("GET " + ECHO + " HTTP/1.1"));
            webtest::rawAnswer next = client.read();
            EXPECT_EQ(next.status, 200);
            EXPECT_EQ(next.body, "GET|");
        }
    }
}

// The same requests arriving one byte at a time are framed the same way.
TEST_F(Framing, RequestsSentByteByByteAreFramedAlike)
{
    for (const frameCase& c : cases()) {
        if (c.request.size() > 200 || c.halfClose) continue;
        SCOPED_TRACE(c.name);
        webtest::rawClient client(svc->port());
        for (char b : c.request) client.send(std::string(1, b));
        webtest::rawAnswer a = client.read();
        ASSERT_TRUE(a.complete);
        EXPECT_EQ(a.statusLine.substr(0, 12), c.statusLine);
        EXPECT_EQ(a.body, c.saw);
    }
}

// A refusal names the method and the path, never the query (it carries the platform's keys) nor the
// userinfo of an absolute target.
TEST_F(Framing, RefusalsAreLoggedWithoutQueryOrUserinfo)
{
    struct refusal {
        std::string request;
        std::string logged;  // how the log line starts
    };
    const std::vector<refusal> refused = {
        {line("GET http://u:secret@x" + ECHO + "?apikey=secret HTTP/1.1"),
         "Запрос GET http://x" + ECHO + " от "},
        {line("GET " + ECHO + "?apikey=secret HTTP/1.1", "Host: a b\r\n"), "Запрос GET " + ECHO + " от "},
        {line("GET " + ECHO + "?apikey=secret HTTP/1.1", HOST + HOST), "Запрос GET " + ECHO + " от "},
        // A request line that did not end as it should is not read at all.
        {"GET " + ECHO + "?apikey=secret HTTP/1.1\n" + HOST + "\r\n", "Запрос от "},
    };
    for (const refusal& r : refused) {
        SCOPED_TRACE(r.request);
        testsupport::logCapture logs;
        webtest::rawClient client(svc->port());
        client.send(r.request);
        EXPECT_EQ(client.read().status, 400);
        std::vector<std::string> texts = logs.texts("fuelweb");
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0].substr(0, r.logged.size()), r.logged);
        EXPECT_EQ(texts[0].find("secret"), std::string::npos) << texts[0];
    }
}

TEST_F(Framing, PipelinedRequestsAreAnsweredInOrder)
{
    webtest::rawClient client(svc->port());
    client.send(line("GET " + ECHO + " HTTP/1.1") + withLength("1", "x") + line("PUT " + ECHO + " HTTP/1.1"));
    EXPECT_EQ(client.read().body, "GET|");
    EXPECT_EQ(client.read().body, "POST|x");
    EXPECT_EQ(client.read().body, "PUT|");
}

// What a body longer than its length leaves before the next request line makes no method.
TEST_F(Framing, TheTailOfABodyLongerThanItsLengthIsNoRequest)
{
    webtest::rawClient client(svc->port());
    client.send(withLength("3", "abcde" + line("GET " + ECHO + " HTTP/1.1")));
    EXPECT_EQ(client.read().body, "POST|abc");
    EXPECT_EQ(client.read().status, 400);
    EXPECT_TRUE(client.closedWithin(3000));
}

// A client that waits for leave to send its body (curl does for larger bodies) gets it at once,
// unless the body is refused already.
TEST_F(Framing, ExpectContinueIsAnsweredBeforeTheBody)
{
    webtest::rawClient client(svc->port());
    client.send(post("Content-Length: 3\r\nExpect: 100-continue\r\n"));
    webtest::rawAnswer interim = client.read(2000);
    EXPECT_EQ(interim.statusLine, "HTTP/1.1 100 Continue");
    client.send("abc");
    webtest::rawAnswer a = client.read();
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(a.body, "POST|abc");

    webtest::rawClient big(svc->port());
    big.send(post("Content-Length: 2000000\r\nExpect: 100-continue\r\n"));
    EXPECT_EQ(big.read().status, 413);
}

TEST_F(Framing, HeadGetsTheLengthWithoutTheBody)
{
    webtest::rawClient client(svc->port());
    client.send(line("HEAD " + ECHO + " HTTP/1.1") + line("GET " + ECHO + " HTTP/1.1"));
    webtest::rawAnswer head = client.read(5000, true);
    EXPECT_EQ(head.status, 200);
    EXPECT_NE(head.head.find("\r\nContent-Length: 5"), std::string::npos) << head.head;
    EXPECT_EQ(client.read().body, "GET|");
}

}  // namespace
