// The library's own log lines: where they go by default and when a program points them elsewhere,
// and failures of the line socket that used to go unreported.
#include "libLog.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <regex>

#include "clientSock.h"
#include "libLogCapture.h"

using namespace pcudata;

namespace {

TEST(LibLog, WithoutAProgramSinkErrorsGoToStandardErrorAndTheRestToStandardOutput)
{
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    libLog::write(libLog::error, "broken");
    libLog::write(libLog::warning, "odd");
    libLog::write(libLog::info, "fine");
    libLog::write(libLog::debug, "detail");  // the daemon's debug levels are off
    libLog::write(libLog::error, "");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    const std::regex stamped(R"(\(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\): broken\n\(.{19}\): odd\n)");
    EXPECT_TRUE(std::regex_match(err, stamped)) << err;
    EXPECT_NE(out.find("): fine\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("detail"), std::string::npos);
}

TEST(LibLog, AProgramSinkTakesEveryLineUntilReset)
{
    {
        testsupport::libLogCapture log;
        libLog::write(libLog::notice, "one");
        libLog::write(libLog::error, "two");
        ASSERT_EQ(log.lines().size(), 2u);
        EXPECT_EQ(log.lines()[1].level, libLog::error);
        EXPECT_EQ(log.text(), "one\ntwo\n");
    }
    testing::internal::CaptureStderr();
    libLog::write(libLog::error, "back");
    EXPECT_NE(testing::internal::GetCapturedStderr().find("): back\n"), std::string::npos);
}

// A descriptor that is no socket refuses every option: the mask bits were computed and dropped
// before; now the caller gets the first error number and the log says which options and why.
TEST(SocketOptions, RefusedOptionsAreReportedWithTheSystemsReason)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    clientSock sock;
    testsupport::libLogCapture log;
    EXPECT_EQ(sock.enable_keepalive(fds[0]), -1);
    EXPECT_EQ(sock.errCode(), ENOTSOCK);
    EXPECT_EQ(sock.enable_reuseopts(fds[0]), -1);
    ::close(fds[0]);
    ::close(fds[1]);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, libLog::warning);
    for (const char* part : {"keep-alive", "(маска 240)", "SO_KEEPALIVE ENOTSOCK (",
                             "TCP_KEEPIDLE ENOTSOCK (", "TCP_KEEPINTVL ENOTSOCK (", "TCP_KEEPCNT ENOTSOCK ("})
        EXPECT_NE(lines[0].text.find(part), std::string::npos) << part << " in " << lines[0].text;
    for (const char* part :
         {"(маска 7)", "SO_REUSEADDR ENOTSOCK", "SO_REUSEPORT ENOTSOCK", "SO_LINGER ENOTSOCK"})
        EXPECT_NE(lines[1].text.find(part), std::string::npos) << part << " in " << lines[1].text;
}

TEST(SocketOptions, AcceptedOptionsStayQuiet)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    clientSock sock;
    testsupport::libLogCapture log;
    EXPECT_EQ(sock.enable_keepalive(fd), 0);
    ::close(fd);
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
