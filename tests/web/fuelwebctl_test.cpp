// fuelwebctl on a state file: the undelivered notices, an order's journal, queuing a notice
// again, a copy of the file, and what it says about wrong usage and missing files.
#include "fuelwebctl.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "stateTestSupport.h"
#include "timeSource.h"
#include "webTestSupport.h"

namespace {

using namespace webtest;

struct ctlResult {
    int status;
    std::string out;
    std::string err;
};

ctlResult ctl(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    int status = azs_apps::fuelwebctl(args, out, err);
    return {status, out.str(), err.str()};
}

class Fuelwebctl : public ::testing::Test {
protected:
    stateDir dir;
    logCapture logs;

    // Order A-1: completed, its notice delivered; B-2: cancelled, its notice pending after the
    // wrapper gave up; C-3: abandoned.
    void SetUp() override
    {
        std::string error;
        auto db = state::stateDb::open(dir.file(), state::stateDb::readWrite, state::stateDb::normal, error);
        ASSERT_TRUE(db) << error;
        {
            state::journalWriter w(std::move(db));
            state::journal::record("A-1", 1, state::journal::ADMITTED, 0, "резервирование");
            state::journal::record("A-1", 1, state::journal::RESERVED, 200, "транзакция 101");
            state::journal::record("A-1", 0, state::journal::COMPLETED, 0, "10.00 л, транзакция 101");
            state::journal::record("A-1", 0, state::journal::NOTICE_DELIVERED, 200, "");
            state::journal::record("B-2", 2, state::journal::CANCELLED, 0, "Нет связи с ТРК");
        }
        state::outbox box(
            state::stateDb::open(dir.file(), state::stateDb::readWrite, state::stateDb::full, error), "x:1");
        const time_t now = pcudata::timeSrc().now();
        box.delivered(box.store(state::finalNotice::complete("k", "A-1", "101", "d", 10.0), now, now + 100),
                      now);
        box.release(box.store(state::finalNotice::cancel("k", "B-2", "Нет связи с ТРК"), now, now + 100),
                    now + 600);
        box.abandon(box.store(state::finalNotice::cancel("k", "C-3", "Ошибка АЗС"), now, now + 100));
    }

    std::vector<std::string> state(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"--state", dir.file()});
        return args;
    }
};

TEST_F(Fuelwebctl, PendingListsTheUndeliveredNotices)
{
    ctlResult r = ctl(state({"pending"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Недоставленных уведомлений: 2\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("заказ 'B-2' отмена: Нет связи с ТРК"), std::string::npos);
    EXPECT_NE(r.out.find("ожидает, следующая попытка"), std::string::npos);
    EXPECT_NE(r.out.find("заказ 'C-3' отмена: Ошибка АЗС\n    отправка прекращена"), std::string::npos);
    EXPECT_EQ(r.out.find("A-1"), std::string::npos);
}

TEST_F(Fuelwebctl, OrderPrintsItsJournalInOrderAndItsNotices)
{
    ctlResult r = ctl(state({"order", "A-1"}));
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected = {
        "Заказ 'A-1'\n",
        "  ТРК 1  принят  резервирование\n",
        "  ТРК 1  ТРК зарезервирована [200]  транзакция 101\n",
        "  ТРК 1  завершен  10.00 л, транзакция 101\n",
        "  ТРК 1  уведомление доставлено [200]\n",
        "Уведомления платформе:\n",
        "заказ 'A-1' завершение: 10.00 л, транзакция 101, d\n    доставлено "};
    size_t at = 0;
    for (const std::string& line : expected) {
        size_t found = r.out.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\n" << r.out;
        at = found + line.size();
    }
    ctlResult unknown = ctl(state({"order", "Z-9"}));
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "Заказ 'Z-9' не найден\n");
}

TEST_F(Fuelwebctl, ResendQueuesTheOrdersUndeliveredNoticesNow)
{
    const time_t now = pcudata::timeSrc().now();
    ctlResult r = ctl(state({"resend", "C-3"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Уведомлений поставлено в очередь: 1", 0), 0u) << r.out;
    auto e = entriesOf(dir.file(), "C-3");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].state, "pending");
    EXPECT_LE(e[0].nextAt, pcudata::timeSrc().now());
    EXPECT_GE(e[0].deadlineAt, now + 7 * 86400);
    EXPECT_EQ(journalKinds(dir.file(), "C-3"),
              std::vector<std::string>{"notice_requeued:0:fuelwebctl resend"});

    ctlResult delivered = ctl(state({"resend", "A-1"}));
    EXPECT_EQ(delivered.status, 1);
    EXPECT_EQ(delivered.err, "У заказа 'A-1' нет недоставленных уведомлений\n");
    EXPECT_EQ(entriesOf(dir.file(), "A-1")[0].state, "delivered");
}

TEST_F(Fuelwebctl, StateFileNamedByTheConfiguration)
{
    const std::string config = dir.path() + "/config.json";
    std::ofstream(config) << "{\"fuelweb\":{\"state_path\":\"" << dir.file() << "\"}}";
    ctlResult r = ctl({"-c", config, "order", "B-2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ТРК 2  отменен  Нет связи с ТРК"), std::string::npos) << r.out;
}

TEST_F(Fuelwebctl, BackupIsACopyOfTheFile)
{
    const std::string copy = dir.path() + "/copy.db";
    ctlResult r = ctl(state({"backup", copy}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(journalKinds(copy, "A-1"), journalKinds(dir.file(), "A-1"));
    EXPECT_EQ(entriesOf(copy, "B-2").size(), 1u);
    EXPECT_EQ(ctl(state({"backup", dir.path() + "/no/such/dir/copy.db"})).status, 1);
}

// The copy holds the platform keys of the notices: only its owner may read it, whatever the umask,
// also when it replaces a file that others could read.
TEST_F(Fuelwebctl, BackupCopyIsReadableByItsOwnerAlone)
{
    const std::string fresh = dir.path() + "/fresh.db", replaced = dir.path() + "/replaced.db";
    ASSERT_EQ(ctl(state({"backup", replaced})).status, 0);
    ::chmod(replaced.c_str(), 0644);
    const mode_t before = ::umask(022);
    for (const std::string& copy : {fresh, replaced}) {
        SCOPED_TRACE(copy);
        EXPECT_EQ(ctl(state({"backup", copy})).status, 0);
        struct stat st {};
        ASSERT_EQ(::stat(copy.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        struct stat source {};
        ASSERT_EQ(::stat(dir.file().c_str(), &source), 0);
        EXPECT_EQ(st.st_uid, source.st_uid);
        EXPECT_EQ(entriesOf(copy, "B-2").size(), 1u);
    }
    ::umask(before);
}

TEST(FuelwebctlUsage, WrongUsageAndMissingFiles)
{
    stateDir dir;
    const std::string missing = dir.path() + "/missing.db";
    struct row {
        std::vector<std::string> args;
        int status;
        std::string err;
    } rows[] = {
        {{}, 2, "Использование: fuelwebctl"},
        {{"--state", missing}, 2, "Использование: fuelwebctl"},
        {{"--state", missing, "order"}, 2, "Использование: fuelwebctl"},
        {{"--state", missing, "pending", "x"}, 2, "Использование: fuelwebctl"},
        {{"--state", missing, "drop", "x"}, 2, "Использование: fuelwebctl"},
        {{"--bogus", "pending"}, 2, "Использование: fuelwebctl"},
        {{"--state", missing, "pending"}, 1, "Не удалось открыть файл состояния '" + missing + "': "},
        {{"--state", missing, "resend", "A"}, 1, "Не удалось открыть файл состояния '" + missing + "': "},
        {{"-c", dir.path() + "/none.json", "pending"}, 1, "Не удалось прочитать конфигурацию"},
    };
    for (const row& r : rows) {
        ctlResult got = ctl(r.args);
        EXPECT_EQ(got.status, r.status) << got.err;
        EXPECT_EQ(got.err.rfind(r.err, 0), 0u) << got.err;
    }
    EXPECT_NE(::access(missing.c_str(), F_OK), 0) << "a reading command made the file";
}

}  // namespace
