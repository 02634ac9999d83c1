// The framing of the requests of one connection, as the front reads them: the bytes go to the
// request parser as they would arrive from the network, and every request it completes is taken
// and the parser goes on with what followed it (pipelining).
//
// Input: byte 0 chooses how the stream arrives and under which limits: bit 7 set, under small
// limits (so that the fuzzer reaches every limit); bits 0-6 seed the cutting of the stream into
// pieces, 0 meaning one byte at a time. The rest is the stream.
//
// What must hold:
//  - the stream cut into pieces gives the same requests as the stream fed whole, and ends the same
//    way: refused, waiting for more, or between requests;
//  - a request is never framed by both Content-Length and Transfer-Encoding; a request with a
//    length has a body of that length;
//  - what follows a refused request is never served: a refused parser takes no more bytes;
//  - no request target, head, field count or body of a served request exceeds its limit, every
//    field name is a token and no value holds CR, LF or NUL; an HTTP/1.1 request names one valid
//    Host.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzzSupport.h"
#include "fuzzTarget.h"
#include "requestParser.h"
#include "uriHost.h"

namespace {

using azs_apps::requestParser;

// What a served request was made of, to compare two feedings of one stream.
struct framed {
    std::string method, uri, version, body;
    std::vector<std::pair<std::string, std::string>> fields;
    bool keepAlive, http10;

    bool operator==(const framed& o) const
    {
        return method == o.method && uri == o.uri && version == o.version && body == o.body &&
               fields == o.fields && keepAlive == o.keepAlive && http10 == o.http10;
    }
};

struct outcome {
    std::vector<framed> requests;
    requestParser::progress last = requestParser::needMore;
    bool started = false;  // some byte of an unfinished request is buffered

    bool operator==(const outcome& o) const
    {
        return requests == o.requests && last == o.last && started == o.started;
    }
};

requestParser::limits smallLimits()
{
    requestParser::limits l;
    l.target = 40;
    l.head = 200;
    l.fields = 6;
    l.body = 300;
    return l;
}

// Piece lengths of 1 to 64 bytes from a small generator seeded by the input; seed 0: single bytes.
std::vector<size_t> pieces(unsigned seed, size_t total)
{
    std::vector<size_t> out;
    uint32_t x = seed * 2654435761u + 1;
    for (size_t done = 0; done < total;) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        size_t n = seed == 0 ? 1 : 1 + x % 64;
        n = std::min(n, total - done);
        out.push_back(n);
        done += n;
    }
    return out;
}

bool isToken(const std::string& s)
{
    const std::string special = "!#$%&'*+-.^_`|~";
    return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || special.find(c) != std::string::npos;
    });
}

bool sameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

size_t countOf(const framed& r, const std::string& name)
{
    return std::count_if(r.fields.begin(), r.fields.end(),
                         [&](const auto& f) { return sameName(f.first, name); });
}

std::string valueOf(const framed& r, const std::string& name)
{
    for (const auto& f : r.fields)
        if (sameName(f.first, name)) return f.second;
    return "";
}

void checkServed(const framed& r, const requestParser::limits& lim)
{
    FUZZ_CHECK(r.uri.size() <= lim.target);
    FUZZ_CHECK(!r.uri.empty() && (r.uri[0] == '/' || r.uri == "*"));
    FUZZ_CHECK(isToken(r.method));
    FUZZ_CHECK(r.fields.size() <= lim.fields);
    FUZZ_CHECK(r.body.size() <= lim.body);
    size_t head = r.method.size() + r.uri.size();
    for (const auto& f : r.fields) {
        FUZZ_CHECK(isToken(f.first));
        FUZZ_CHECK(f.second.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        head += f.first.size() + f.second.size();
    }
    FUZZ_CHECK(head <= lim.head);

    const size_t lengths = countOf(r, "Content-Length");
    const size_t codings = countOf(r, "Transfer-Encoding");
    FUZZ_CHECK(lengths == 0 || codings == 0);
    FUZZ_CHECK(lengths <= 1);
    if (lengths == 1) FUZZ_CHECK(std::stoull(valueOf(r, "Content-Length")) == r.body.size());
    if (codings > 0) FUZZ_CHECK(!r.http10);

    const size_t hosts = countOf(r, "Host");
    FUZZ_CHECK(hosts <= 1);
    if (!r.http10) FUZZ_CHECK(hosts == 1);
    if (hosts == 1) FUZZ_CHECK(azs_apps::isUriHost(valueOf(r, "Host")));
}

framed summary(const azs_apps::httpRequest& req)
{
    framed f{req.head.getMethod(), req.head.getURI(), req.head.getVersion(), req.body, {},
             req.keepAlive,        req.http10};
    for (const auto& field : req.head) f.fields.push_back(field);
    return f;
}

// Feeds the stream in the given pieces as the connection's reader does: after each piece, takes
// every request that is complete, and stops at a refusal.
outcome feed(std::string_view stream, const std::vector<size_t>& cuts, const requestParser::limits& lim)
{
    requestParser parser(lim);
    outcome out;
    size_t at = 0;
    for (size_t n : cuts) {
        parser.append(stream.data() + at, n);
        at += n;
        while ((out.last = parser.advance()) == requestParser::complete) {
            out.requests.push_back(summary(*parser.take()));
            checkServed(out.requests.back(), lim);
        }
        if (out.last != requestParser::failed) continue;
        FUZZ_CHECK(parser.status() >= 400 && parser.status() < 600);
        FUZZ_CHECK(!parser.reason().empty());
        // Nothing after the refusal is read, even a well-formed request.
        const std::string next = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
        parser.append(next.data(), next.size());
        FUZZ_CHECK(parser.advance() == requestParser::failed);
        return out;
    }
    out.started = parser.started();
    return out;
}

}  // namespace

FUZZ_TARGET(requestFraming)
{
    fuzzing::quietLogs();
    if (input.empty()) return;
    const unsigned char choice = static_cast<unsigned char>(input[0]);
    const requestParser::limits lim = choice & 0x80 ? smallLimits() : requestParser::limits();
    const std::string_view stream = input.substr(1);

    const outcome whole =
        feed(stream, stream.empty() ? std::vector<size_t>() : std::vector<size_t>{stream.size()}, lim);
    const outcome cut = feed(stream, pieces(choice & 0x7f, stream.size()), lim);
    FUZZ_CHECK(whole == cut);
}
