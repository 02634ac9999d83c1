// A controller session on a descriptor that was connected elsewhere (one end of a socket pair).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "logCapture.h"
#include "pcuControl.h"

using namespace pcudata;

TEST(DescriptorSession, CommandsGoOverTheGivenDescriptorWhichTheSessionCloses)
{
    ctltest::logCapture logs;
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    const std::string reply = "@0012REGM;RES=1;\n";
    ASSERT_EQ(::write(fds[1], reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
    {
        pcuControl session(fds[0]);
        ASSERT_TRUE(session.isConnected());
        EXPECT_EQ(session.getHost(), "127.0.0.1");
        cntlMsgResult res;
        cmdMsgResult_clear(res);
        int err = -1;
        EXPECT_EQ(session._readResult(res, err), 1);
        EXPECT_EQ(res.Cmd, "REGM");
        EXPECT_EQ(session._sendCommand("@!ACFG\n"), 0);
    }
    char got[16] = {};
    EXPECT_EQ(::read(fds[1], got, sizeof got), 7);
    EXPECT_STREQ(got, "@!ACFG\n");
    EXPECT_EQ(::read(fds[1], got, sizeof got), 0) << "the session closed its end";
    ::close(fds[1]);
}
