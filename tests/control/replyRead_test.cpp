// Reading controller replies over a real loopback connection, with replies the simulator never
// sends: a scripted port answers each command line with a prepared text.
#include <gtest/gtest.h>

#include <memory>

#include "logCapture.h"
#include "pcuControl.h"
#include "scriptedServer.h"
#include "timeSource.h"

using namespace pcudata;
using ctltest::scriptedServer;

namespace {

class ReplyRead : public ::testing::Test {
protected:
    scaledTimeSource fast{100};
    timeSourceGuard guard{&fast};
    ctltest::logCapture logs;
    scriptedServer srv;
    std::unique_ptr<pcuControl> ctl;
    cntlMsgResult res;
    int err = -99;

    void SetUp() override
    {
        ctl = std::make_unique<pcuControl>("127.0.0.1", srv.port());
        ASSERT_TRUE(ctl->isConnected());
        cmdMsgResult_clear(res);
    }

    // One exchange at the transport level, so no registration gets in the way.
    int ask(const std::string& reply, bool close = false, bool reset = false)
    {
        srv.push(reply, close, reset);
        if (ctl->_sendCommand("@!GETPRS;PRD=1;PMT=8880;\n") != 0) return -100;
        return ctl->_readResult(res, err);
    }
};

TEST_F(ReplyRead, IntermediateThenFinalKeepsOnlyFinal)
{
    EXPECT_EQ(ask("@0030GETPRS;RES=2;TXT=wait;\n@0030GETPRS;RES=1;PRS=5000;\n"), 1);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(res.Res, 1);
    EXPECT_EQ(res.txt, "");
    ASSERT_EQ(res.vlist.size(), 2u);
    EXPECT_EQ(res.vlist[1].value, "5000");
    EXPECT_TRUE(logs.has(ctltest::LOG_CTL, Poco::Message::PRIO_DEBUG,
                         "Чтение сокета  [@0030GETPRS;RES=2;TXT=wait;]"));
    EXPECT_TRUE(logs.has(ctltest::LOG_CTL, Poco::Message::PRIO_DEBUG,
                         "Результат выполнения команды [ Cmd='GETPRS' Res='1' Len='0030' tcod='' txt='' "
                         "crc='' vlist='2' ]"));
    EXPECT_TRUE(
        logs.has(ctltest::LOG_CTL, Poco::Message::PRIO_DEBUG, "Запись в сокет [@!GETPRS;PRD=1;PMT=8880;\n]"));
}

TEST_F(ReplyRead, LineWithoutResIsFinal)
{
    EXPECT_EQ(ask("@0020GETPRS;PRS=5000;\nRES=1;\n"), -1);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(res.vlist.size(), 1u);
}

TEST_F(ReplyRead, EmptyResEndsTheReply)
{
    EXPECT_EQ(ask("@0020GETPRS;RES=;TXT=x;\n"), -1);
    EXPECT_EQ(res.vlist.size(), 2u);
    EXPECT_EQ(res.txt, "x");
}

TEST_F(ReplyRead, OddElements)
{
    EXPECT_EQ(ask("@0020GETPRS;=x;;TXT=a=b;$77;RES=1;\n"), 1);
    EXPECT_EQ(res.txt, "a");
    EXPECT_EQ(res.crc, "77");
    EXPECT_EQ(res.vlist.size(), 2u);
}

TEST_F(ReplyRead, NonNumericResEndsTheReply)
{
    int r = 0;
    EXPECT_NO_THROW(r = ask("@0020GETPRS;RES=abc;\n"));
    EXPECT_EQ(r, -1);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(res.Res, -1);
    EXPECT_EQ(res.Cmd, "GETPRS");
}

TEST_F(ReplyRead, NoReplyTimesOutAfterTenSeconds)
{
    const int64_t start = timeSrc().nowUs();
    EXPECT_EQ(ask(""), -1);
    EXPECT_EQ(err, 0);
    EXPECT_GE(timeSrc().nowUs() - start, 10000000);
    EXPECT_TRUE(res.empty);
}

TEST_F(ReplyRead, ClosedAfterIntermediate)
{
    EXPECT_EQ(ask("@0020GETPRS;RES=2;\n", true), -1);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(res.Res, 2);  // the last line parsed
}

TEST_F(ReplyRead, LineCutByCloseIsNoReply)
{
    // "RES=12" cut after "RES=1" must not read as success.
    EXPECT_EQ(ask("@0020GETPRS;RES=1", true), -1);
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(res.empty);
    EXPECT_FALSE(logs.texts(ctltest::LOG_CTL, Poco::Message::PRIO_ERROR).empty());
}

TEST_F(ReplyRead, LineCutByResetIsNoReply)
{
    EXPECT_EQ(ask("@0020GETPRS;RES=1", false, true), -1);
    EXPECT_TRUE(res.empty);
    EXPECT_FALSE(logs.texts(ctltest::LOG_CTL, Poco::Message::PRIO_ERROR).empty());
}

TEST_F(ReplyRead, NotConnected)
{
    srv.push("@0020REGM;RES=1;\n");
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    ASSERT_TRUE(ctl->is_registered());
    ctl->disconnect();
    EXPECT_EQ(ctl->_readResult(res, err), -1);
    EXPECT_EQ(err, 107);
    EXPECT_FALSE(ctl->is_registered());
    EXPECT_EQ(ctl->_sendCommand("@!ACFG\n"), -1);
    EXPECT_TRUE(logs.has(ctltest::LOG_CTL, Poco::Message::PRIO_ERROR, "Отсутсвует соединение с сокетом"));
}

TEST_F(ReplyRead, EmptyCommandIsNotSent)
{
    EXPECT_EQ(ctl->_sendCommand(""), -1);
    EXPECT_TRUE(
        logs.has(ctltest::LOG_CTL, Poco::Message::PRIO_ERROR, "Не задана команда для записи в сокет"));
    EXPECT_TRUE(srv.received().empty());
}

}  // namespace
