// Connecting, reconnecting and the retried transaction step, against the simulator.
#include "scriptedServer.h"
#include "simSession.h"

using namespace pcudata;
using ctltest::LOG_CTL_CYR;
using ctltest::LOG_FUELING;
using ctltest::SimSession;
using Poco::Message;

namespace {

const std::string REGM = "@!REGM;NUM=20;TYP=14;";
constexpr int64_t SECOND = 1000000;

using TryAvailable = SimSession;

TEST_F(TryAvailable, ClosedPortThreeAttempts)
{
    pcuControl lone;
    lone.setHost("127.0.0.1");
    lone.setPort(ctltest::closedPort());
    lone.__try_Ctl_Available(3);
    EXPECT_FALSE(lone.isConnected());
    EXPECT_EQ(logs.texts(LOG_CTL_CYR, Message::PRIO_DEBUG),
              (std::vector<std::string>{"Подключение к контролеру управления (0/3)",
                                        "Подключение к контролеру управления (1/3)",
                                        "Подключение к контролеру управления (2/3)"}));
    EXPECT_EQ(logs.texts(LOG_CTL_CYR, Message::PRIO_ERROR),
              (std::vector<std::string>{"Не удалось подключиться к контролеру управления (0/3)",
                                        "Не удалось подключиться к контролеру управления (1/3)",
                                        "Не удалось подключиться к контролеру управления (2/3)"}));
    EXPECT_EQ(clock.count(SECOND), 2);       // between the attempts, not before the first
    EXPECT_EQ(clock.count(1500000), 3 * 3);  // the socket's own retries within each attempt
}

TEST_F(TryAvailable, HealthySessionIsLeftAlone)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    ctl->__try_Ctl_Available(3);
    EXPECT_TRUE(ctl->is_registered());
    EXPECT_TRUE(logs.texts(LOG_CTL_CYR).empty());
    EXPECT_EQ(clock.count(SECOND), 0);
}

TEST_F(TryAvailable, BrokenSessionReconnectsAndRegistersAgain)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    pcu.closeControlConnections();
    EXPECT_EQ(ctl->get_price(res, err, 92, 1), -1);  // meets the closed connection
    ctl->__try_Ctl_Available(1);
    ASSERT_TRUE(ctl->isConnected());
    EXPECT_FALSE(ctl->is_registered());
    EXPECT_EQ(clock.count(SECOND), 1);
    EXPECT_EQ(ctl->get_price(res, err, 92, 1), 1);
    const std::vector<std::string> l = lines();
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[l.size() - 2], REGM);
}

using Reconnect = SimSession;

TEST_F(Reconnect, NewConnectionRegistered)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    EXPECT_EQ(ctl->reconnectCtlSock(res, err), 1);
    EXPECT_TRUE(ctl->is_registered());
    EXPECT_EQ(err, 0);
    EXPECT_EQ(lines(), (std::vector<std::string>{REGM, REGM}));
    ctl->release_trk(1, "A-1", res, err);
    EXPECT_EQ(lines().size(), 3u);
}

TEST_F(Reconnect, ControllerGone)
{
    pcu.stop();
    EXPECT_EQ(ctl->reconnectCtlSock(res, err), -1);
    EXPECT_EQ(err, 107);
    EXPECT_FALSE(ctl->isConnected());
    EXPECT_TRUE(logs.texts(LOG_CTL_CYR).empty());  // a failed connect returns before registering
}

TEST_F(Reconnect, RegistrationRefusedIsLoggedForTheFuelling)
{
    pcu.refuseNext("REGM", 4);
    EXPECT_EQ(ctl->reconnectCtlSock(res, err), 4);
    EXPECT_FALSE(ctl->is_registered());
    EXPECT_TRUE(logs.has(LOG_FUELING, Message::PRIO_ERROR, "Ошибка перерегистрации рабочего места"));
    EXPECT_TRUE(logs.texts(LOG_CTL_CYR).empty());
}

TEST_F(Reconnect, RegistrationUnansweredIsLoggedForTheSession)
{
    pcu.dropNext("REGM");
    EXPECT_EQ(ctl->reconnectCtlSock(res, err), -1);
    EXPECT_TRUE(logs.has(LOG_CTL_CYR, Message::PRIO_ERROR, "Ошибка перерегистрации рабочего места"));
}

using Transaction = SimSession;

TEST_F(Transaction, UnknownStepDoesNothing)
{
    int step = 4;
    EXPECT_EQ(ctl->_recreate_trk_transaction(1, "A-1", res, err, step, 92, -1, 1.0, 52.5, 52.5, 0), -1);
    EXPECT_EQ(step, 4);
    EXPECT_TRUE(lines().empty());
}

TEST_F(Transaction, StepSucceedsAndAdvances)
{
    int step = 3;
    EXPECT_EQ(ctl->_recreate_trk_transaction(2, "A-1", res, err, step, 92, -1, 0, 0, 0, 0), 1);
    EXPECT_EQ(step, 0);
    EXPECT_EQ(lines(), (std::vector<std::string>{REGM, "@!PWORK;NUM=2;TYP=1;PRD=92;PMT=8880;"}));
    EXPECT_TRUE(logs.has(ctltest::LOG_CTL, Message::PRIO_INFORMATION,
                         "Резервирование ТРК 2 заказ 'A-1' продукт='92"));
}

TEST_F(Transaction, RefusedTwiceThenCarriedOut)
{
    pcu.refuseNext("PWORK", 5);
    pcu.refuseNext("PWORK", 5);
    int step = 3;
    EXPECT_EQ(ctl->_recreate_trk_transaction(1, "A-1", res, err, step, 92, -1, 0, 0, 0, 0), 1);
    EXPECT_EQ(step, 0);
    EXPECT_EQ(pcu.receivedCommands("PWORK").size(), 3u);
    EXPECT_EQ(clock.count(SECOND), 2);
}

TEST_F(Transaction, UnansweredStepIsRetriedNotAdvanced)
{
    pcu.dropNext("STOP");  // the first attempt registers lazily, then gets no answer
    int step = 1;
    EXPECT_EQ(ctl->_recreate_trk_transaction(1, "A-1", res, err, step, 92, -1, 0, 0, 0, 0), 1);
    EXPECT_EQ(step, 2);
    EXPECT_EQ(pcu.receivedCommands("STOP").size(), 2u);
}

TEST_F(Transaction, AllAttemptsRefused)
{
    for (int i = 0; i < 3; ++i) pcu.refuseNext("STOP", 8);
    int step = 1;
    EXPECT_EQ(ctl->_recreate_trk_transaction(1, "A-1", res, err, step, 92, -1, 0, 0, 0, 0), 8);
    EXPECT_EQ(step, 1);
    EXPECT_EQ(pcu.receivedCommands("STOP").size(), 3u);
}

TEST_F(Transaction, LostConnectionIsRebuilt)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    pcu.closeControlConnections();
    int step = 1;
    EXPECT_EQ(ctl->_recreate_trk_transaction(1, "A-1", res, err, step, 92, -1, 0, 0, 0, 0), 1);
    EXPECT_EQ(step, 2);
    const std::vector<std::string> l = lines();
    ASSERT_GE(l.size(), 3u);
    EXPECT_EQ(l[l.size() - 2], REGM);
    EXPECT_EQ(l.back(), "@!STOP;NUM=1;");
}

}  // namespace
