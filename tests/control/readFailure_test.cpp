// A controller that resets the connection instead of answering: the reset is logged with its error
// number's name, not taken for a silent "no reply". Depending on when the reset arrives it is met
// by the check after the write (which then takes the socket's error) or by the read, which then
// hands the error number to the caller.
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "logCapture.h"
#include "pcuControl.h"
#include "scriptedServer.h"
#include "timeSource.h"

using namespace pcudata;

namespace {

// The reset was logged with its name at the write or at the read; an error number handed to the
// caller is the reset's.
void expectResetReported(ctltest::logCapture& logs, int err)
{
    size_t reported = 0;
    bool atRead = false;
    for (const ctltest::logLine& l : logs.lines()) {
        if (l.prio != Poco::Message::PRIO_ERROR || l.text.find(": ECONNRESET (") == std::string::npos)
            continue;
        ++reported;
        atRead = atRead || l.text.rfind("Ошибка чтения данных из сокета: ECONNRESET (", 0) == 0;
        if (!atRead) {
            EXPECT_EQ(l.text.rfind("Ошибка записи в сокет: ECONNRESET (", 0), 0u) << l.text;
        }
    }
    EXPECT_EQ(reported, 1u);
    EXPECT_EQ(err, atRead ? ECONNRESET : 0);
}

TEST(ControlReadFailure, ResetInsteadOfAReplyIsReported)
{
    scaledTimeSource fast{100};
    timeSourceGuard guard{&fast};
    ctltest::scriptedServer srv;
    srv.push("", false, true);
    pcuControl ctl("127.0.0.1", srv.port());
    ASSERT_TRUE(ctl.isConnected());
    ctltest::logCapture logs;
    cntlMsgResult res;
    int err = 0;
    EXPECT_EQ(ctl.register_wrkplace(res, err), -1);
    expectResetReported(logs, err);
}

TEST(ControlReadFailure, ResetInsteadOfAStationBlockIsReported)
{
    scaledTimeSource fast{100};
    timeSourceGuard guard{&fast};
    ctltest::scriptedServer srv;
    srv.push("", false, true);
    pcuControl ctl("127.0.0.1", srv.port());
    ASSERT_TRUE(ctl.isConnected());
    ctltest::logCapture logs;
    acfg_data cfg;
    int err = 0;
    EXPECT_EQ(ctl.getAzsPrs(cfg, err), -1);
    expectResetReported(logs, err);
}

}  // namespace
