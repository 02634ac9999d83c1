#include "fuzzSupport.h"

#include <Poco/Logger.h>
#include <Poco/NullChannel.h>
#include <sys/socket.h>
#include <unistd.h>

#include "libLog.h"

namespace fuzzing {

namespace {

void dropLibraryLine(pcudata::libLog::level, const std::string&) {}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

void quietLogs()
{
    static const bool done = [] {
        Poco::Logger::setChannel("", new Poco::NullChannel);
        Poco::Logger::setLevel("", Poco::Message::PRIO_DEBUG);
        pcudata::libLog::setSink(dropLibraryLine);
        return true;
    }();
    (void)done;
}

std::vector<std::string> lines(std::string_view input)
{
    std::vector<std::string> out;
    while (!input.empty()) {
        const size_t lf = input.find('\n');
        out.emplace_back(input.substr(0, lf));
        if (lf == std::string_view::npos) break;
        input.remove_prefix(lf + 1);
    }
    return out;
}

std::unique_ptr<pcudata::pcuControl> sessionReading(std::string_view bytes)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return nullptr;
    const bool written = writeAll(fds[1], bytes);
    ::close(fds[1]);
    if (!written) {
        ::close(fds[0]);
        return nullptr;
    }
    return std::make_unique<pcudata::pcuControl>(fds[0]);
}

std::vector<std::string> linesAsRead(std::string_view bytes)
{
    std::vector<std::string> out;
    for (;;) {
        const size_t lf = bytes.find('\n');
        if (lf == std::string_view::npos) return out;
        out.emplace_back(bytes.substr(0, lf));
        bytes.remove_prefix(lf + 1);
    }
}

std::unique_ptr<azs_apps::httpContext> requestContext(const std::string& method, const std::string& uri,
                                                      const std::string& contentType, const std::string& body)
{
    auto request = std::make_unique<azs_apps::httpRequest>();
    request->head.setMethod(method);
    request->head.setURI(uri);
    if (!contentType.empty()) request->head.setContentType(contentType);
    request->body = body;
    request->lineRead = true;
    auto discard = [](const std::string&, bool) { return true; };
    return std::make_unique<azs_apps::httpContext>(std::move(request), discard, false);
}

}  // namespace fuzzing
