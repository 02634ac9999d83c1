#pragma once
// Reads requests out of the bytes of one connection, framed strictly as HTTP/1.1 prescribes, so
// that this service and any proxy in front of it always agree where a request ends:
//   - a request line of exactly three parts separated by single spaces; the method in capitals
//     (letters A-Z, "-", "_"), the target a path or an absolute http(s) target; the version is HTTP/1.0 or
//     HTTP/1.x (read as 1.1); another major version gets 505, anything else 400;
//   - header fields "name: value" with a token as name, no space before the colon, no folded lines,
//     no control bytes; an HTTP/1.1 request names exactly one Host, and every Host field, like
//     the authority of an absolute target, is a valid "host[:port]" without userinfo (uriHost.h);
//   - the body: chunked when Transfer-Encoding says so (chunked must be the only and last coding),
//     else as long as the one Content-Length field says (digits only), else empty. Content-Length
//     together with Transfer-Encoding, repeated or malformed lengths and bad chunk sizes get 400;
//   - lines of the head and of the chunk framing end with CRLF; a bare LF or a bare CR is an error
//     (only the empty lines tolerated before a request line may end with LF alone).
// Every refusal is final: the connection is answered with the status and closed, since nothing
// after a malformed request can be trusted to start a new one.
//
// The parser is fed as bytes arrive and keeps its place, so a request that trickles in byte by
// byte costs no more than one that comes at once. Bytes after a complete request stay buffered
// for the next one (pipelining).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "httpRequest.h"

namespace azs_apps {

class requestParser {
public:
    struct limits {
        size_t target = 16 * 1024;  // request target; longer: 414
        size_t head = 64 * 1024;    // request line and fields together; longer: 431
        size_t fields = 100;        // number of header fields; more: 431
        size_t body = 1024 * 1024;  // decoded body; longer: 413
    };

    enum progress {
        needMore,  // the request is not complete yet
        complete,  // take() hands it over
        failed,    // answer status() and close the connection
    };

    requestParser() : requestParser(limits()) {}
    explicit requestParser(const limits& l);

    void append(const char* data, size_t size);
    // Parses as far as the buffered bytes allow.
    progress advance();

    // Some byte of a request has arrived (empty lines before a request line do not count).
    bool started() const;
    // The head is read and the client waits for "100 Continue" before it sends the body.
    bool expectsContinue() const { return expect100 && phase > fields && phase < done; }
    // After failed: the status to answer and the reason, for the log.
    int status() const { return failStatus; }
    const std::string& reason() const { return failReason; }
    // The request read so far: method and target are known once the request line is read.
    const httpRequest& current() const { return *req; }
    // After complete: the request. The parser goes on with the bytes that followed it.
    std::unique_ptr<httpRequest> take();

private:
    enum stage { requestLine, fields, sizedBody, chunkSize, chunkData, chunkEnd, trailers, done, broken };

    limits lim;
    std::string buf;
    size_t pos = 0;   // bytes of buf already parsed
    size_t scan = 0;  // where the search for the end of the current line goes on
    stage phase = requestLine;
    size_t headBytes = 0;
    size_t fieldCount = 0;
    size_t emptyLines = 0;
    uint64_t remaining = 0;  // bytes of the body or of the current chunk still to come
    bool expect100 = false;
    int failStatus = 0;
    std::string failReason;
    std::unique_ptr<httpRequest> req;

    progress fail(int status, const std::string& why);
    // The next whole line (without its line end); false when it has not arrived yet.
    // bareCr: a CR inside the line; bareLf: the line ended with LF alone.
    bool nextLine(std::string& line, bool& bareCr, bool& bareLf);
    size_t partialLine() const { return buf.size() - pos; }
    void compact();

    progress onRequestLine(const std::string& line);
    progress onField(const std::string& line);
    progress onHeadEnd();
    progress onChunkSize(const std::string& line);
    progress onTrailer(const std::string& line);
    progress readBody(stage next);
    progress readChunkEnd();
    progress tooLongLine();
};

}  // namespace azs_apps
