// The fuelweb program with its state file, as the operator runs it: the operator's command reads
// the file while the service runs (also across a restart), and a state file that can't be opened
// leaves the ordering working with one error line.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "fuelwebProcess.h"
#include "orderTestSupport.h"
#include "stateTestSupport.h"

namespace {

using namespace webtest;
using ordertest::json;
using ordertest::orderBody;

class DurableProcess : public FuelwebProcess {};

TEST_F(DurableProcess, OperatorReadsTheStateFileWhileTheServiceRunsAndAcrossARestart)
{
    writeConfig(stateFile());
    startService();
    httpReply r = order(orderBody());
    ASSERT_EQ(r.status, 200) << r.body;

    montest::processResult journal;
    ASSERT_TRUE(stationRig::waitFor(
        [&] {
            journal = ctl({"order", "A-1"});
            return journal.out.find("ТРК зарезервирована") != std::string::npos;
        },
        5000))
        << journal.out << journal.err;
    EXPECT_EQ(journal.status, 0);
    EXPECT_NE(journal.out.find("ТРК 1  принят  резервирование"), std::string::npos) << journal.out;
    montest::processResult pending = ctl({"pending"});
    EXPECT_EQ(pending.status, 0) << pending.err;
    EXPECT_EQ(pending.out, "Недоставленных уведомлений нет\n");
    ASSERT_TRUE(fw->running());

    // A new cycle opens the same file again; its journal goes on.
    fw->signal(SIGHUP);
    ASSERT_TRUE(fw->waitForLog("Запуск приложения", 2));
    ASSERT_TRUE(fw->waitListening(port));
    ASSERT_EQ(order(orderBody({{"id", "\"B-2\""}, {"trk", "2"}})).status, 200);
    ASSERT_TRUE(stationRig::waitFor([&] { return ctl({"order", "B-2"}).status == 0; }, 5000));

    // The sender and the journal writer stop with the service.
    fw->signal(SIGTERM);
    EXPECT_EQ(fw->waitExit(5000), 0) << fw->log();
    EXPECT_TRUE(errorLines().empty()) << fw->log();
    EXPECT_NE(ctl({"order", "B-2"}).out.find("ТРК 2  ТРК зарезервирована [200]"), std::string::npos);
}

// The platform refuses the completion; fuelweb is killed (SIGKILL) while its wrapper retries and
// is started again, still refused; once the platform answers 200 the completion arrives exactly
// once, and the pump is left settled.
TEST_F(DurableProcess, RestartInTheMiddleOfACompletionDeliversItOnce)
{
    writeConfig(stateFile(), ",\"notice_resend_interval\":1");
    platform.setStatus("/completed", 500);
    startService();
    ASSERT_EQ(order(orderBody()).status, 200);
    httpReply started = fueling(orderBody());
    ASSERT_EQ(started.status, 200) << started.body;
    ASSERT_TRUE(pcu.waitForStatus(1, 6, 10000));
    pcu.liftNozzle(1);
    ASSERT_TRUE(pcu.waitForStatus(1, 9, 10000));
    pcu.hangNozzle(1);

    auto completions = [&] { return platform.requestsTo("/completed"); };
    auto delivered = [&] {
        size_t n = 0;
        for (const auto& r : completions()) n += r.status == 200;
        return n;
    };
    ASSERT_TRUE(stationRig::waitFor([&] { return completions().size() >= 3; }, 15000)) << fw->log();
    fw->kill();
    const size_t beforeKill = completions().size();
    auto kept = entriesOf(stateFile(), "A-1");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].state, "pending");
    EXPECT_FALSE(kept[0].claimedBy.empty());  // the claim of a process that is gone
    EXPECT_TRUE(pcu.waitForStatus(1, 3, 10000)) << "the delivery was settled before the notice";

    // Started again: the start-up sweep sends it at once, the platform still refuses.
    startService();
    ASSERT_TRUE(stationRig::waitFor([&] { return completions().size() >= beforeKill + 2; }, 10000))
        << fw->log();
    EXPECT_EQ(delivered(), 0u);
    platform.setStatus("/completed", 200);
    ASSERT_TRUE(stationRig::waitFor([&] { return delivered() == 1; }, 10000)) << fw->log();
    // Several resend intervals later: nothing more.
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    EXPECT_EQ(delivered(), 1u);
    EXPECT_EQ(completions().back().status, 200);
    kept = entriesOf(stateFile(), "A-1");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].state, "delivered");
    const std::string body = completions().back().body;
    EXPECT_EQ(sim::platformStub::formFields(body)["litre"], "10.00");
    EXPECT_EQ(sim::platformStub::formFields(body)["apikey"], APIKEY);
    fw->signal(SIGTERM);
    EXPECT_EQ(fw->waitExit(5000), 0);
}

// The database must never stop an order: a state file whose directory can't be made costs one
// error line, and orders are taken as ever.
TEST_F(DurableProcess, StateFileThatCannotBeOpenedLeavesOrderingWorking)
{
    const std::string notADirectory = dir.path() + "/plain-file";
    std::ofstream(notADirectory) << "x";
    writeConfig(notADirectory + "/state.db");
    startService();
    httpReply r = order(orderBody());
    EXPECT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(json(r.body)->getValue<std::string>("msg"), "Заказ зарегистрирован");
    fw->signal(SIGTERM);
    EXPECT_EQ(fw->waitExit(5000), 0);
    std::vector<std::string> errors = errorLines();
    ASSERT_EQ(errors.size(), 1u) << fw->log();
    EXPECT_NE(errors[0].find("Error fuelweb/state: Не удалось открыть файл состояния '" + notADirectory +
                             "/state.db': "),
              std::string::npos)
        << errors[0];
}

// The same with a directory that only its owner may write, for an owner that is not root (root
// writes anyway).
TEST_F(DurableProcess, ReadOnlyStateDirectoryLeavesOrderingWorking)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into a read-only directory";
    const std::string readOnly = dir.path() + "/ro";
    ASSERT_EQ(::mkdir(readOnly.c_str(), 0555), 0);
    writeConfig(readOnly + "/state.db");
    startService();
    EXPECT_EQ(order(orderBody()).status, 200);
    fw->signal(SIGTERM);
    EXPECT_EQ(fw->waitExit(5000), 0);
    EXPECT_EQ(errorLines().size(), 1u) << fw->log();
    ::chmod(readOnly.c_str(), 0755);
}

}  // namespace
