// A read that fails (the controller resets the connection) is an error with its number, not a
// silent "no reply".
#include <Poco/Message.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "logCapture.h"
#include "pcuControl.h"
#include "scriptedServer.h"
#include "timeSource.h"

using namespace pcudata;

namespace {

bool logged(ctltest::logCapture& logs, const std::string& source, const std::string& start)
{
    for (const std::string& t : logs.texts(source, Poco::Message::PRIO_ERROR))
        if (t.rfind(start, 0) == 0) return true;
    return false;
}

TEST(ControlReadFailure, ResetInsteadOfAReplyGivesItsErrorNumber)
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
    EXPECT_EQ(err, ECONNRESET);
    EXPECT_TRUE(logged(logs, ctltest::LOG_CTL, "Ошибка чтения данных из сокета: ECONNRESET ("));
}

TEST(ControlReadFailure, ResetInsteadOfAStationBlockGivesItsErrorNumber)
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
    EXPECT_EQ(err, ECONNRESET);
    EXPECT_TRUE(logged(logs, ctltest::LOG_CTL_CYR, "Ошибка чтения данных из сокета: ECONNRESET ("));
}

}  // namespace
