#include "requestParser.h"

#include <Poco/String.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "uriHost.h"

namespace azs_apps {

namespace {

// Room for the method and the version around a target of the longest allowed length.
constexpr size_t REQUEST_LINE_SLACK = 64;
// Empty lines tolerated before a request line (some clients send a CRLF after a body).
constexpr size_t MAX_EMPTY_LINES = 8;
constexpr size_t MAX_CHUNK_LINE = 4096;
// 15 hex digits hold any size below 2^60; anything longer is no honest chunk.
constexpr size_t MAX_CHUNK_DIGITS = 15;
// 18 decimal digits stay below 2^63.
constexpr size_t MAX_LENGTH_DIGITS = 18;
// A line of the head or of the chunk framing that ends with LF alone: a peer that splits lines only
// at CRLF would read it as part of one line, so two readers of the same bytes would disagree on
// where fields, chunks and requests end.
const char* const BARE_LF = "конец строки LF без CR";
// Consumed bytes are dropped from the buffer once this many have gathered.
constexpr size_t COMPACT_AT = 64 * 1024;

bool isTchar(unsigned char c)
{
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (!isTchar(static_cast<unsigned char>(c))) return false;
    return true;
}

// Methods are tokens, and every method there is is written in capitals (with "-" or "_"): a method
// in other letters is no client's, but the tail of a body that was longer than its length glued to
// the next request line ("deGET /"), as a peer in front that refuses it would see.
bool isMethod(const std::string& s)
{
    if (s.empty()) return false;
    for (char c : s)
        if (!((c >= 'A' && c <= 'Z') || c == '-' || c == '_')) return false;
    return true;
}

// Field values may hold visible characters, spaces, tabs and bytes above 0x7f, nothing else.
bool isFieldText(const std::string& s)
{
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t') || c == 0x7f) return false;
    }
    return true;
}

std::string trimmed(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Values of every field with this name, in their order.
std::vector<std::string> fieldValues(const Poco::Net::HTTPRequest& head, const std::string& name)
{
    std::vector<std::string> out;
    for (const auto& f : head)
        if (Poco::icompare(f.first, name) == 0) out.push_back(f.second);
    return out;
}

// The elements of comma-separated field values, trimmed and in lower case; empty elements dropped.
std::vector<std::string> listElements(const std::vector<std::string>& values)
{
    std::vector<std::string> out;
    for (const std::string& v : values) {
        size_t start = 0;
        for (;;) {
            size_t comma = v.find(',', start);
            std::string e = Poco::toLower(trimmed(v.substr(start, comma - start)));
            if (!e.empty()) out.push_back(e);
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    return out;
}

bool hasElement(const std::vector<std::string>& list, const char* what)
{
    for (const std::string& e : list)
        if (e == what) return true;
    return false;
}

// Where the authority of an absolute target ("http://host/path") starts; 0 for any other form.
size_t authorityStart(const std::string& target)
{
    std::string lower = Poco::toLower(target.substr(0, 8));
    if (lower.compare(0, 7, "http://") == 0) return 7;
    if (lower.compare(0, 8, "https://") == 0) return 8;
    return 0;
}

size_t authorityEnd(const std::string& target, size_t start)
{
    size_t end = target.find_first_of("/?", start);
    return end == std::string::npos ? target.size() : end;
}

// The target as the log may show it: an absolute target loses its userinfo ("user:password@"),
// which the refusal of the request would otherwise write out.
std::string targetForLog(const std::string& target)
{
    size_t start = authorityStart(target);
    if (start == 0) return target;
    size_t at = target.rfind('@', authorityEnd(target, start));
    if (at == std::string::npos || at < start) return target;
    return target.substr(0, start) + target.substr(at + 1);
}

// The target in origin form ("/path?query"). An absolute target ("http://host/path") is reduced to
// its path once its authority is a valid host without userinfo; "*" is kept for OPTIONS. False
// for any other form.
bool originForm(const std::string& method, std::string& target)
{
    if (target[0] == '/') return true;
    if (target == "*") return method == "OPTIONS";
    size_t start = authorityStart(target);
    if (start == 0) return false;
    size_t end = authorityEnd(target, start);
    if (!isUriHost(target.substr(start, end - start))) return false;
    if (end == target.size())
        target = "/";
    else
        target = target[end] == '/' ? target.substr(end) : "/" + target.substr(end);
    return true;
}

}  // namespace

requestParser::requestParser(const limits& l) : lim(l), req(std::make_unique<httpRequest>()) {}

void requestParser::append(const char* data, size_t size)
{
    compact();
    buf.append(data, size);
}

void requestParser::compact()
{
    if (pos < COMPACT_AT) return;
    buf.erase(0, pos);
    scan -= pos;
    pos = 0;
}

bool requestParser::started() const
{
    return phase != requestLine || pos < buf.size();
}

std::unique_ptr<httpRequest> requestParser::take()
{
    std::unique_ptr<httpRequest> out = std::move(req);
    req = std::make_unique<httpRequest>();
    buf.erase(0, pos);
    pos = scan = 0;
    phase = requestLine;
    headBytes = fieldCount = emptyLines = 0;
    remaining = 0;
    expect100 = false;
    return out;
}

requestParser::progress requestParser::fail(int status, const std::string& why)
{
    phase = broken;
    failStatus = status;
    failReason = why;
    return failed;
}

bool requestParser::nextLine(std::string& line, bool& bareCr, bool& bareLf)
{
    size_t from = scan > pos ? scan : pos;
    size_t lf = buf.find('\n', from);
    if (lf == std::string::npos) {
        scan = buf.size();
        return false;
    }
    bareLf = lf == pos || buf[lf - 1] != '\r';
    size_t end = bareLf ? lf : lf - 1;
    line.assign(buf, pos, end - pos);
    bareCr = line.find('\r') != std::string::npos;
    pos = scan = lf + 1;
    return true;
}

requestParser::progress requestParser::advance()
{
    std::string line;
    bool bareCr = false;
    bool bareLf = false;
    for (;;) {
        stage before = phase;
        progress p = needMore;
        switch (phase) {
            case requestLine:
            case fields:
            case chunkSize:
            case trailers: {
                size_t start = pos;
                if (!nextLine(line, bareCr, bareLf)) return tooLongLine();
                if (bareCr) return fail(400, "символ CR внутри строки");
                // An empty line before a request may end with LF alone: it frames nothing.
                if (bareLf && !(phase == requestLine && line.empty())) return fail(400, BARE_LF);
                if (phase == requestLine || phase == fields) headBytes += pos - start;
                if (phase == requestLine)
                    p = onRequestLine(line);
                else if (phase == fields)
                    p = onField(line);
                else if (phase == chunkSize)
                    p = onChunkSize(line);
                else
                    p = onTrailer(line);
                if (p == failed) return failed;
                continue;  // a line was consumed: go on with the next one
            }
            case sizedBody:
                p = readBody(done);
                break;
            case chunkData:
                p = readBody(chunkEnd);
                break;
            case chunkEnd:
                p = readChunkEnd();
                break;
            case done:
                return complete;
            case broken:
                return failed;
        }
        if (p == failed) return failed;
        if (phase == before) return needMore;  // the body step is waiting for bytes
    }
}

// A line that has not ended yet but is already longer than any acceptable one.
requestParser::progress requestParser::tooLongLine()
{
    // A CR that has just arrived may be the start of the line end: it does not make the line longer.
    size_t partial = partialLine();
    if (partial > 0 && buf.back() == '\r') --partial;
    switch (phase) {
        case requestLine:
            if (partial <= lim.target + REQUEST_LINE_SLACK) return needMore;
            // Still inside the target: it is the target that is too long.
            if (buf.find(' ', pos) != std::string::npos &&
                buf.find(' ', buf.find(' ', pos) + 1) == std::string::npos)
                return fail(414, "адрес длиннее " + std::to_string(lim.target) + " байт");
            return fail(400, "строка запроса слишком длинная");
        case fields:
        case trailers:
            if (headBytes + partial <= lim.head) return needMore;
            return fail(431, "заголовок длиннее " + std::to_string(lim.head) + " байт");
        case chunkSize:
            if (partial <= MAX_CHUNK_LINE) return needMore;
            return fail(400, "неверный размер блока");
        default:
            return needMore;
    }
}

requestParser::progress requestParser::onRequestLine(const std::string& line)
{
    if (line.empty()) {
        headBytes = 0;
        if (++emptyLines > MAX_EMPTY_LINES) return fail(400, "пустые строки вместо запроса");
        return needMore;
    }
    size_t sp1 = line.find(' ');
    size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos) return fail(400, "неверная строка запроса");
    std::string method = line.substr(0, sp1);
    std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string version = line.substr(sp2 + 1);
    // The same limit as for a request line still arriving (tooLongLine), however the bytes came.
    if (line.size() > lim.target + REQUEST_LINE_SLACK) {
        if (target.size() > lim.target)
            return fail(414, "адрес длиннее " + std::to_string(lim.target) + " байт");
        return fail(400, "строка запроса слишком длинная");
    }
    if (!isMethod(method)) return fail(400, "неверный метод запроса");
    if (target.empty()) return fail(400, "пустой адрес запроса");
    for (char ch : target) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7f) return fail(400, "неверный адрес запроса");
    }
    req->head.setMethod(method);
    req->head.setURI(targetForLog(target));
    req->lineRead = true;
    bool digits = version.size() == 8 && version.compare(0, 5, "HTTP/") == 0 && version[5] >= '0' &&
                  version[5] <= '9' && version[6] == '.' && version[7] >= '0' && version[7] <= '9';
    if (!digits) return fail(400, "неверная версия HTTP");
    if (version[5] != '1') return fail(505, "неподдерживаемая версия HTTP");
    if (target.size() > lim.target) return fail(414, "адрес длиннее " + std::to_string(lim.target) + " байт");
    if (!originForm(method, target)) return fail(400, "неверный адрес запроса");
    req->head.setURI(target);
    req->http10 = version[7] == '0';
    req->head.setVersion(req->http10 ? Poco::Net::HTTPMessage::HTTP_1_0 : Poco::Net::HTTPMessage::HTTP_1_1);
    phase = fields;
    return needMore;
}

requestParser::progress requestParser::onField(const std::string& line)
{
    if (headBytes > lim.head) return fail(431, "заголовок длиннее " + std::to_string(lim.head) + " байт");
    if (line.empty()) return onHeadEnd();
    if (line[0] == ' ' || line[0] == '\t') return fail(400, "поле заголовка перенесено на новую строку");
    size_t colon = line.find(':');
    if (colon == std::string::npos || !isToken(line.substr(0, colon)))
        return fail(400, "неверное поле заголовка");
    std::string value = trimmed(line.substr(colon + 1));
    if (!isFieldText(value)) return fail(400, "управляющий символ в поле заголовка");
    if (++fieldCount > lim.fields)
        return fail(431, "больше " + std::to_string(lim.fields) + " полей заголовка");
    req->head.add(line.substr(0, colon), value);
    return needMore;
}

// The head is complete: how long the body is, and what the client expects of the connection.
requestParser::progress requestParser::onHeadEnd()
{
    const Poco::Net::HTTPRequest& head = req->head;
    std::vector<std::string> hosts = fieldValues(head, "Host");
    if (hosts.size() > 1 || (hosts.empty() && !req->http10))
        return fail(400, "нет поля Host или оно не одно");
    if (!hosts.empty() && !isUriHost(hosts[0])) return fail(400, "неверное поле Host");

    std::vector<std::string> te = fieldValues(head, "Transfer-Encoding");
    std::vector<std::string> cl = fieldValues(head, "Content-Length");
    if (!te.empty()) {
        if (!cl.empty()) return fail(400, "Content-Length вместе с Transfer-Encoding");
        if (req->http10) return fail(400, "Transfer-Encoding в запросе HTTP/1.0");
        std::vector<std::string> codings = listElements(te);
        if (codings.empty() || codings.back() != "chunked") return fail(400, "неверный Transfer-Encoding");
        codings.pop_back();
        if (hasElement(codings, "chunked")) return fail(400, "неверный Transfer-Encoding");
        if (!codings.empty()) return fail(501, "неподдерживаемое кодирование тела");
        phase = chunkSize;
    } else if (!cl.empty()) {
        const std::string& v = cl[0];
        bool digits = cl.size() == 1 && !v.empty() && v.size() <= MAX_LENGTH_DIGITS &&
                      v.find_first_not_of("0123456789") == std::string::npos;
        if (!digits) return fail(400, "неверный Content-Length");
        remaining = std::stoull(v);
        if (remaining > lim.body) return fail(413, "тело длиннее " + std::to_string(lim.body) + " байт");
        phase = remaining > 0 ? sizedBody : done;
    } else {
        phase = done;
    }

    std::vector<std::string> connection = listElements(fieldValues(head, "Connection"));
    req->keepAlive = !req->http10 && !hasElement(connection, "close");
    std::vector<std::string> expect = listElements(fieldValues(head, "Expect"));
    expect100 = !req->http10 && hasElement(expect, "100-continue");
    return needMore;
}

requestParser::progress requestParser::readBody(stage next)
{
    size_t have = buf.size() - pos;
    size_t n = remaining < have ? static_cast<size_t>(remaining) : have;
    req->body.append(buf, pos, n);
    pos += n;
    scan = pos;
    remaining -= n;
    if (remaining > 0) return needMore;
    phase = next;
    return needMore;
}

requestParser::progress requestParser::readChunkEnd()
{
    if (pos >= buf.size()) return needMore;
    if (buf[pos] == '\n') return fail(400, BARE_LF);
    if (buf[pos] != '\r') return fail(400, "блок тела длиннее своего размера");
    if (pos + 1 >= buf.size()) return needMore;
    if (buf[pos + 1] != '\n') return fail(400, "блок тела без конца строки");
    pos += 2;
    scan = pos;
    phase = chunkSize;
    return needMore;
}

requestParser::progress requestParser::onChunkSize(const std::string& line)
{
    if (line.size() > MAX_CHUNK_LINE) return fail(400, "неверный размер блока");  // as in tooLongLine
    size_t digits = 0;
    while (digits < line.size() && std::isxdigit(static_cast<unsigned char>(line[digits]))) ++digits;
    if (digits == 0 || digits > MAX_CHUNK_DIGITS) return fail(400, "неверный размер блока");
    std::string rest = trimmed(line.substr(digits));
    if ((!rest.empty() && rest[0] != ';') || !isFieldText(rest)) return fail(400, "неверный размер блока");
    uint64_t size = std::stoull(line.substr(0, digits), nullptr, 16);
    if (size == 0) {
        headBytes = 0;  // the trailer section gets a budget of its own
        phase = trailers;
        return needMore;
    }
    if (size > lim.body - req->body.size())
        return fail(413, "тело длиннее " + std::to_string(lim.body) + " байт");
    remaining = size;
    phase = chunkData;
    return needMore;
}

// Trailer fields are checked like header fields and dropped: nothing here needs them.
requestParser::progress requestParser::onTrailer(const std::string& line)
{
    headBytes += line.size() + 2;
    if (headBytes > lim.head) return fail(431, "заголовок длиннее " + std::to_string(lim.head) + " байт");
    if (line.empty()) {
        phase = done;
        return needMore;
    }
    size_t colon = line.find(':');
    if (line[0] == ' ' || line[0] == '\t' || colon == std::string::npos || !isToken(line.substr(0, colon)) ||
        !isFieldText(line.substr(colon + 1)))
        return fail(400, "неверное поле после тела");
    return needMore;
}

}  // namespace azs_apps
