#include "httpAnswer.h"

#include <Poco/Net/HTTPResponse.h>

#include <cstdio>
#include <ctime>

#include "timeSource.h"

namespace azs_apps {
namespace httpAnswer {

namespace {

// The Date field in the fixed English form; the process locale must not change it. Formatted once
// per second on each thread.
struct dateCache {
    time_t sec;
    char text[40];
};
thread_local dateCache date{-1, {}};

const char* httpDate()
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    time_t now = pcudata::timeSrc().now();
    if (now != date.sec) {
        struct tm tm {};
        gmtime_r(&now, &tm);
        std::snprintf(date.text, sizeof date.text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                      days[tm.tm_wday % 7], tm.tm_mday, months[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour,
                      tm.tm_min, tm.tm_sec);
        date.sec = now;
    }
    return date.text;
}

// The phrases of the current HTTP standard where Poco still has older ones.
std::string reasonFor(int status)
{
    switch (status) {
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return Poco::Net::HTTPResponse::getReasonForStatus(
                static_cast<Poco::Net::HTTPResponse::HTTPStatus>(status));
    }
}

}  // namespace

std::string head(int status, bool http10, const std::map<std::string, std::string>& fields,
                 size_t contentLength, bool close)
{
    std::string out;
    out.reserve(256);
    out += http10 ? "HTTP/1.0 " : "HTTP/1.1 ";
    out += std::to_string(status);
    out += ' ';
    out += reasonFor(status);
    out += "\r\nDate: ";
    out += httpDate();
    out += "\r\nServer: fuelweb\r\n";
    for (const auto& f : fields) {
        // A value with a line break would add fields of its own: such a field is not written.
        if (f.first.find_first_of("\r\n:") != std::string::npos ||
            f.second.find_first_of("\r\n") != std::string::npos)
            continue;
        out += f.first;
        out += ": ";
        out += f.second;
        out += "\r\n";
    }
    out += "Content-Length: ";
    out += std::to_string(contentLength);
    out += "\r\n";
    if (close) out += "Connection: Close\r\n";
    out += "\r\n";
    return out;
}

std::string refusal(int status, bool http10)
{
    return head(status, http10, {}, 0, true);
}

const std::string& continue100()
{
    static const std::string text = "HTTP/1.1 100 Continue\r\n\r\n";
    return text;
}

}  // namespace httpAnswer
}  // namespace azs_apps
