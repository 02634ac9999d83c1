// Pump commands against the controller simulator: exact command lines, lazy registration, pump
// range, replies and the not-connected path.
#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

#include "simSession.h"

using namespace pcudata;
using ctltest::LOG_CTL;
using ctltest::SimSession;
using Poco::Message;

namespace {

const std::string REGM = "@!REGM;NUM=20;TYP=14;";

using CommandLines = SimSession;

TEST_F(CommandLines, RegistrationIsLazyAndPerConnection)
{
    EXPECT_EQ(ctl->reserve_trk(3, res, err, 92, -1), 1);
    EXPECT_EQ(lines(), (std::vector<std::string>{REGM, "@!PWORK;NUM=3;TYP=1;PRD=92;PMT=8880;"}));
    EXPECT_TRUE(ctl->is_registered());

    EXPECT_EQ(ctl->release_trk(3, order, res, err), 1);
    EXPECT_EQ(lines().size(), 3u);
    EXPECT_EQ(lastLine(), "@!PWORK;NUM=3;TYP=2;");

    ctl->close();
    EXPECT_FALSE(ctl->is_registered());
    ASSERT_TRUE(ctl->open("127.0.0.1", pcu.ctlPort()));
    EXPECT_EQ(ctl->get_price(res, err, 95, 8880), 1);
    const std::vector<std::string> l = lines();
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[3], REGM);
    EXPECT_EQ(l[4], "@!GETPRS;PRD=95;PMT=8880;");
    EXPECT_EQ(res.Res, 1);
}

TEST_F(CommandLines, EveryCommandLine)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    struct sent {
        std::function<void()> call;
        std::string line;
    };
    const std::vector<sent> table = {
        {[&] { ctl->get_price(res, err, 95, -3); }, "@!GETPRS;PRD=95;PMT=-3;"},
        {[&] { ctl->check_trk(0, res, err, 92, 2); }, "@!PWORK;NUM=0;TYP=0;"},
        {[&] { ctl->LockPayment(-2, order, res, err, 1); }, "@!WPWRK;TYP=1;TRK=-2;"},
        {[&] { ctl->change_pmt(0, order, res, err, -1); }, "@!CHPMT;NUM=0;PMT=8880;"},
        {[&] { ctl->change_pmt(2, order, res, err, 2); }, "@!CHPMT;NUM=2;PMT=2;"},
        {[&] { ctl->reserve_trk(1, res, err, 95, 0); }, "@!PWORK;NUM=1;TYP=1;PRD=95;PMT=0;"},
        {[&] { ctl->print_virt(1, order, res, err); }, "@!PRNQ;NUM=1;TYP=5;"},
        {[&] { ctl->release_trk(1, order, res, err); }, "@!PWORK;NUM=1;TYP=2;"},
        {[&] { ctl->test_lock_trk(2, order, res, err); }, "@!TSTBD;NUM=2"},
        {[&] { ctl->start_order_trk(1, order, res, err, 92, -1, 10.0, 500.0, 50.0, 0); },
         "@!PSET;NUM=1;PRD=92;PMT=8880;TYP=0;VOL=10000;PRS=5000;MNY=50000;"},
        {[&] { ctl->stop_trk(4, order, res, err); }, "@!STOP;NUM=4;"},
    };
    for (const sent& s : table) {
        s.call();
        EXPECT_EQ(lastLine(), s.line);
    }
    EXPECT_EQ(lines().size(), table.size() + 1);  // no further REGM
    // The line feed ends every line, the pump-busy test included; nothing else follows it.
    EXPECT_TRUE(logs.has(LOG_CTL, Message::PRIO_DEBUG, "Запись в сокет [@!TSTBD;NUM=2\n]"));
    EXPECT_TRUE(logs.has(LOG_CTL, Message::PRIO_DEBUG, "Запись в сокет [@!STOP;NUM=4;\n]"));
    EXPECT_TRUE(
        logs.has(LOG_CTL, Message::PRIO_INFORMATION, "Установка блокировки для оплаты (заказ : A-1)"));
    EXPECT_TRUE(logs.has(LOG_CTL, Message::PRIO_INFORMATION, "Передача заказа в ТРК (пуск ТРК)"));
}

TEST_F(CommandLines, AmountsRoundHalfAwayFromZero)
{
    struct amounts {
        double volume, sum, price;
        std::string tail;
    };
    const std::vector<amounts> table = {
        {0.0005, 0.005, 0.005, "VOL=1;PRS=1;MNY=1;"},  // none of them exact in binary
        {1.0015, 10.125, 2.675, "VOL=1002;PRS=268;MNY=1013;"},
        {-0.0005, -0.005, 0.0, "VOL=-1;PRS=0;MNY=-1;"},
        {0.0004, 0.0049, 52.5, "VOL=0;PRS=5250;MNY=0;"},
    };
    for (const amounts& a : table) {
        ctl->start_order_trk(2, order, res, err, 92, 1, a.volume, a.sum, a.price, 0);
        EXPECT_EQ(lastLine(), "@!PSET;NUM=2;PRD=92;PMT=1;TYP=0;" + a.tail);
    }
}

TEST_F(CommandLines, AmountBeyondTheLineFieldIsRefused)
{
    EXPECT_EQ(ctl->start_order_trk(2, order, res, err, 92, 1, 3.0e6, 100.0, 50.0, 0), -1);
    EXPECT_EQ(err, 22);
    EXPECT_EQ(ctl->start_order_trk(2, order, res, err, 92, 1, 1.0, 1.0e300, 50.0, 0), -1);
    EXPECT_EQ(ctl->start_order_trk(2, order, res, err, 92, 1, 1.0, 50.0, std::nan(""), 0), -1);
    EXPECT_TRUE(lines().empty());
}

using PumpRange = SimSession;

TEST_F(PumpRange, MarkedCommandsRefuseWithoutTraffic)
{
    for (int num : {0, 33}) {
        const std::vector<std::function<int()>> calls = {
            [&] { return ctl->reserve_trk(num, res, err, 92, -1); },
            [&] { return ctl->print_virt(num, order, res, err); },
            [&] { return ctl->release_trk(num, order, res, err); },
            [&] { return ctl->test_lock_trk(num, order, res, err); },
            [&] { return ctl->start_order_trk(num, order, res, err, 92, -1, 1.0, 50.0, 50.0, 0); },
            [&] { return ctl->stop_trk(num, order, res, err); },
        };
        for (const auto& call : calls) {
            err = 0;
            EXPECT_EQ(call(), -1);
            EXPECT_EQ(err, 22);
        }
    }
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(logs.texts(LOG_CTL, Message::PRIO_ERROR),
              std::vector<std::string>(4, "ТРК за пределом допустимых значений"));  // start and stop only
}

TEST_F(PumpRange, UnmarkedCommandsSendAnyNumber)
{
    ctl->check_trk(33, res, err, 0, 0);
    EXPECT_EQ(lastLine(), "@!PWORK;NUM=33;TYP=0;");
    ctl->LockPayment(0, order, res, err, 0);
    EXPECT_EQ(lastLine(), "@!WPWRK;TYP=0;TRK=0;");
    ctl->change_pmt(-7, order, res, err, 3);
    EXPECT_EQ(lastLine(), "@!CHPMT;NUM=-7;PMT=3;");
}

using Registration = SimSession;

TEST_F(Registration, RefusedRegistrationStopsTheCommandAndIsRetried)
{
    pcu.refuseNext("REGM", 4);
    EXPECT_EQ(ctl->reserve_trk(1, res, err, 92, -1), -1);
    EXPECT_EQ(res.Res, 4);
    EXPECT_FALSE(ctl->is_registered());
    EXPECT_EQ(lines(), std::vector<std::string>{REGM});
    EXPECT_TRUE(logs.has(LOG_CTL, Message::PRIO_ERROR, "Ошибка регистрации рабочего места"));

    EXPECT_EQ(ctl->release_trk(1, order, res, err), 1);
    EXPECT_EQ(lines(), (std::vector<std::string>{REGM, REGM, "@!PWORK;NUM=1;TYP=2;"}));
}

TEST_F(Registration, StaleResultDoesNotRegister)
{
    res.Res = 1;  // left over from an earlier command of the caller
    pcu.dropNext("REGM");
    EXPECT_EQ(ctl->reserve_trk(1, res, err, 92, -1), -1);
    EXPECT_FALSE(ctl->is_registered());
    EXPECT_EQ(lines(), std::vector<std::string>{REGM});
}

TEST_F(Registration, UnansweredCommandAfterLazyRegistrationIsNoSuccess)
{
    // The REGM reply (RES 1) must not stay in the record as if it were the command's own answer.
    pcu.dropNext("STOP");
    EXPECT_EQ(ctl->stop_trk(1, order, res, err), -1);
    EXPECT_TRUE(ctl->is_registered());
    EXPECT_NE(res.Res, 1);
    EXPECT_TRUE(res.Cmd.empty());
    EXPECT_EQ(lines(), (std::vector<std::string>{REGM, "@!STOP;NUM=1;"}));
}

TEST_F(Registration, WorkplaceSettingsGoIntoRegm)
{
    ctl->set_wplace(7);
    ctl->set_wplace_typ(-4);
    ctl->register_wrkplace(res, err);
    EXPECT_EQ(lastLine(), "@!REGM;NUM=7;TYP=-4;");
    EXPECT_TRUE(logs.has(LOG_CTL, Message::PRIO_INFORMATION, "Регистрация рабочего места"));
}

TEST_F(Registration, NotConnected)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    ctl->disconnect();  // the registered flag is still set: the commands must clear it
    EXPECT_EQ(ctl->stop_trk(1, order, res, err), -1);
    EXPECT_EQ(err, 107);
    EXPECT_FALSE(ctl->is_registered());
    err = 0;
    EXPECT_EQ(ctl->get_price(res, err, 92, 1), -1);
    EXPECT_EQ(err, 107);
    err = 0;
    EXPECT_EQ(ctl->register_wrkplace(res, err), -1);
    EXPECT_EQ(err, 107);
    EXPECT_EQ(lines().size(), 1u);
    EXPECT_EQ(logs.texts(LOG_CTL, Message::PRIO_ERROR),
              std::vector<std::string>{"Отсутсвует соединение с сокетом"});  // from stop_trk only
}

using SimReplies = SimSession;

TEST_F(SimReplies, IntermediateThenFinal)
{
    pcu.intermediateNext("GETPRS", 1, 2);
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    EXPECT_EQ(ctl->get_price(res, err, 95, 8880), 1);
    EXPECT_EQ(res.Cmd, "GETPRS");
    bool price = false;
    for (const cntlMsgEm& e : res.vlist) price = price || (e.name == "PRS" && e.value == "5690");
    EXPECT_TRUE(price);
}

TEST_F(SimReplies, RefusalCarriesTheControllerText)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    pcu.refuseNext("STOP", 8, "ERRSTATE", "Неверное состояние");
    EXPECT_EQ(ctl->stop_trk(1, order, res, err), 8);
    EXPECT_EQ(res.txt, "Неверное состояние");
    EXPECT_EQ(res.tcod, "ERRSTATE");
    EXPECT_EQ(err, 0);
}

TEST_F(SimReplies, DelayedReplyWithinTheBudget)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    pcu.delayNext("GETPRS", 20);  // 2 s nominal of the 10 s budget
    EXPECT_EQ(ctl->get_price(res, err, 92, 1), 1);
}

// A reply that arrives after its reader gave up must not be taken for the answer to the next
// command; otherwise every later answer on the session is one command behind.
TEST_F(SimReplies, LateReplyIsNotTakenForTheNextCommand)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    pcu.delayNext("GETPRS", 150);  // 15 s nominal: past the 10 s budget
    EXPECT_EQ(ctl->get_price(res, err, 92, 1), -1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the late reply is in

    cmdMsgResult_clear(res);
    EXPECT_EQ(ctl->reserve_trk(1, res, err, 92, -1), 1);
    EXPECT_EQ(res.Cmd, "PWORK");
    bool hasVal = false;
    for (const cntlMsgEm& em : res.vlist) hasVal = hasVal || em.name == "VAL";
    EXPECT_TRUE(hasVal);
    bool logged = false;
    for (const std::string& t : logs.texts(LOG_CTL, Message::PRIO_WARNING))
        logged = logged || t.find("Отброшены данные контролера") == 0;
    EXPECT_TRUE(logged);
}

TEST_F(SimReplies, NoReplyAndClosedConnection)
{
    ASSERT_EQ(ctl->register_wrkplace(res, err), 1);
    pcu.dropNext("GETPRS");
    EXPECT_EQ(ctl->get_price(res, err, 92, 1), -1);
    EXPECT_EQ(err, 0);

    pcu.closeOnNext("STOP");
    EXPECT_EQ(ctl->stop_trk(1, order, res, err), -1);
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(ctl->hasError());  // the session can tell that it must reconnect
}

}  // namespace
