// The outbox of final notices on its own: what a stored notice holds, which notices a sender may
// claim (and which another sender holds), deliveries that are never sent again, and the
// operator's requeue.
#include "outbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "processToken.h"
#include "stateTestSupport.h"
#include "webTestSupport.h"

namespace {

using namespace webtest;

constexpr time_t T0 = 1700000000;

class Outbox : public ::testing::Test {
protected:
    stateDir dir;
    logCapture logs;
    std::shared_ptr<state::outbox> box;

    void SetUp() override
    {
        std::string error;
        box = state::outbox::forFile(dir.file(), error);
        ASSERT_TRUE(box) << error;
    }

    int64_t store(const std::string& orderId, time_t now = T0)
    {
        return box->store(state::finalNotice::cancel("k", orderId, "r"), now, now + 7 * 86400);
    }

    // An outbox on the same file as another process would have it.
    std::unique_ptr<state::outbox> asProcess(const std::string& token)
    {
        std::string error;
        auto db = state::stateDb::open(dir.file(), state::stateDb::readWrite, state::stateDb::full, error);
        EXPECT_TRUE(db) << error;
        return std::make_unique<state::outbox>(std::move(db), token);
    }

    static std::vector<int64_t> ids(const std::vector<state::outboxEntry>& entries)
    {
        std::vector<int64_t> out;
        for (const auto& e : entries) out.push_back(e.id);
        return out;
    }
};

TEST_F(Outbox, StoredNoticeHoldsEveryBodyFieldAndItsSender)
{
    int64_t id = box->store(
        state::finalNotice::complete("c,s,t", "ORD-1", "117", "05.03.2024 14:07:09", 12.345), T0, T0 + 100);
    ASSERT_GT(id, 0);
    auto e = entriesOf(dir.file(), "ORD-1");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].notice.kind, state::noticeKind::complete);
    EXPECT_EQ(e[0].notice.apikey, "c,s,t");
    EXPECT_EQ(e[0].notice.extOrderId, "117");
    EXPECT_EQ(e[0].notice.extDate, "05.03.2024 14:07:09");
    EXPECT_EQ(e[0].notice.litre, 12.345);
    EXPECT_EQ(e[0].state, "pending");
    EXPECT_EQ(e[0].attempts, 0);
    EXPECT_EQ(e[0].createdAt, T0);
    EXPECT_EQ(e[0].deadlineAt, T0 + 100);
    EXPECT_EQ(e[0].claimedBy, state::processToken::self());

    box->attempted(id, 502, T0 + 1);
    box->attempted(id, 200, T0 + 2);
    box->delivered(id, T0 + 2);
    e = entriesOf(dir.file(), "ORD-1");
    EXPECT_EQ(e[0].state, "delivered");
    EXPECT_EQ(e[0].attempts, 2);
    EXPECT_EQ(e[0].lastStatus, 200);
    EXPECT_EQ(e[0].deliveredAt, T0 + 2);
    EXPECT_EQ(e[0].claimedBy, "");
}

// Whoever holds a notice sends it; a claim whose holder is gone is void.
TEST_F(Outbox, ClaimsOfOtherSenders)
{
    const std::string self = state::processToken::self();
    const std::string parent = state::processToken::of(static_cast<int>(::getppid()));
    ASSERT_FALSE(parent.empty());
    const std::string gone = std::to_string(::getppid()) + ":1";  // the pid, but not its start
    struct row {
        const char* what;
        std::string holder;
        bool heldHere;  // a sender of this process holds it
        bool taken;
    } rows[] = {
        {"unclaimed", "", false, true},
        {"held by a sender here", self, true, false},
        {"claimed here, held by no sender", self, false, true},
        {"another running process", parent, false, false},
        {"a process that is gone", gone, false, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        auto other = asProcess(r.holder.empty() ? "x:1" : r.holder);
        int64_t id = r.heldHere ? store(r.what)
                                : other->store(state::finalNotice::cancel("k", r.what, "r"), T0, T0 + 999);
        if (r.holder.empty()) other->release(id, T0);
        std::vector<int64_t> claimed = ids(box->claimDue(T0 + 1, true));
        EXPECT_EQ(std::count(claimed.begin(), claimed.end(), id), r.taken ? 1 : 0);
        for (int64_t c : claimed) box->delivered(c, T0 + 1);
        if (r.heldHere) box->delivered(id, T0 + 1);
    }
}

TEST_F(Outbox, DueFromItsNextAttemptOnOrAllAtStartUp)
{
    int64_t a = store("A");
    int64_t b = store("B");
    box->release(a, T0 + 600);
    box->release(b, T0 + 1200);
    EXPECT_TRUE(box->claimDue(T0 + 599, false).empty());
    EXPECT_EQ(box->nextDue(), T0 + 600);
    EXPECT_EQ(ids(box->claimDue(T0 + 600, false)), std::vector<int64_t>{a});
    // Claimed: neither due again nor counted for the next wake-up.
    EXPECT_TRUE(box->claimDue(T0 + 700, false).empty());
    EXPECT_EQ(box->nextDue(), T0 + 1200);
    box->failed(a, 500, T0 + 600, T0 + 1200);
    EXPECT_EQ(ids(box->claimDue(T0, true)), (std::vector<int64_t>{a, b}));
}

TEST_F(Outbox, DeliveredNoticeIsNeverClaimedAgain)
{
    int64_t id = store("D");
    box->delivered(id, T0 + 1);
    EXPECT_TRUE(box->claimDue(T0 + 86400, true).empty());
    EXPECT_TRUE(asProcess("x:1")->claimDue(T0 + 86400, true).empty());
    EXPECT_EQ(box->failed(id, 500, T0 + 2, T0 + 3), true);  // a late failure changes nothing
    EXPECT_EQ(entriesOf(dir.file(), "D")[0].state, "delivered");
}

// The platform took it but the mark could not be written: this process must not send it again,
// and writes the mark as soon as it can.
TEST_F(Outbox, DeliveryThatCouldNotBeRecordedIsNotSentAgain)
{
    int64_t id = store("U");
    box->busyWaitMs(20);
    {
        writeBlocker blocked(dir.file());
        EXPECT_FALSE(box->delivered(id, T0 + 1));
    }
    ASSERT_EQ(logs.texts("fuelweb/state").size(), 1u);
    EXPECT_NE(logs.texts("fuelweb/state")[0].find("Ошибка записи в файл состояния"), std::string::npos);
    EXPECT_TRUE(box->claimDue(T0 + 2, true).empty());
    box->markUnrecorded(T0 + 3);
    EXPECT_EQ(entriesOf(dir.file(), "U")[0].state, "delivered");
}

TEST_F(Outbox, OperatorQueuesUndeliveredNoticesAgain)
{
    int64_t pending = store("R");
    box->release(pending, T0 + 600);
    int64_t abandoned = store("R");
    box->abandon(abandoned);
    int64_t delivered = store("R");
    box->delivered(delivered, T0 + 5);

    std::string error;
    auto db = state::stateDb::open(dir.file(), state::stateDb::update, state::stateDb::full, error);
    ASSERT_TRUE(db) << error;
    EXPECT_EQ(ids(state::outbox::undelivered(*db)), (std::vector<int64_t>{pending, abandoned}));
    EXPECT_EQ(state::outbox::requeue(*db, "R", T0 + 10, T0 + 10 + 7 * 86400), 2);
    EXPECT_EQ(state::outbox::requeue(*db, "nobody", T0 + 10, T0 + 20), 0);
    auto e = entriesOf(dir.file(), "R");
    for (const auto& x : e) {
        if (x.id == delivered) {
            EXPECT_EQ(x.state, "delivered");
            continue;
        }
        EXPECT_EQ(x.state, "pending");
        EXPECT_EQ(x.nextAt, T0 + 10);
        EXPECT_EQ(x.deadlineAt, T0 + 10 + 7 * 86400);
    }
    EXPECT_EQ(ids(box->claimDue(T0 + 10, false)), (std::vector<int64_t>{pending, abandoned}));
}

TEST_F(Outbox, OldRowsAreForgottenPendingNoticesKept)
{
    int64_t old = store("OLD", T0);
    box->delivered(old, T0);
    int64_t waiting = store("WAIT", T0);
    box->release(waiting, T0 + 600);
    int64_t recent = store("NEW", T0 + 1000);
    box->delivered(recent, T0 + 1000);
    EXPECT_TRUE(box->forget(T0 + 500));
    EXPECT_TRUE(entriesOf(dir.file(), "OLD").empty());
    EXPECT_EQ(entriesOf(dir.file(), "WAIT").size(), 1u);
    EXPECT_EQ(entriesOf(dir.file(), "NEW").size(), 1u);
}

// --- the file itself -----------------------------------------------------------------------------

TEST(StateFile, WhatCannotBeOpened)
{
    stateDir dir;
    std::string error;
    // Read-only opening never makes a file.
    EXPECT_FALSE(state::stateDb::open(dir.file(), state::stateDb::readOnly, state::stateDb::full, error));
    EXPECT_FALSE(state::stateDb::open(dir.file(), state::stateDb::update, state::stateDb::full, error));
    EXPECT_NE(::access(dir.file().c_str(), F_OK), 0);

    const std::string junk = dir.path() + "/junk.db";
    FILE* f = std::fopen(junk.c_str(), "w");
    std::fputs("not a database, certainly not one of ours", f);
    std::fclose(f);
    EXPECT_FALSE(state::stateDb::open(junk, state::stateDb::readWrite, state::stateDb::full, error));
    EXPECT_FALSE(error.empty());

    // A directory where the file's directory should be.
    EXPECT_FALSE(
        state::stateDb::open(junk + "/state.db", state::stateDb::readWrite, state::stateDb::full, error));
    EXPECT_FALSE(state::stateDb::open("", state::stateDb::readWrite, state::stateDb::full, error));
}

TEST(StateFile, MadeWithItsDirectoryReadableOnlyByItsOwner)
{
    stateDir dir;
    const std::string file = dir.path() + "/a/b/state.db";
    std::string error;
    ASSERT_TRUE(state::stateDb::open(file, state::stateDb::readWrite, state::stateDb::full, error)) << error;
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(StateFile, FileOfANewerProgramIsLeftAlone)
{
    stateDir dir;
    std::string error;
    {
        auto db = state::stateDb::open(dir.file(), state::stateDb::readWrite, state::stateDb::full, error);
        ASSERT_TRUE(db && db->exec("PRAGMA user_version=99"));
    }
    EXPECT_FALSE(state::stateDb::open(dir.file(), state::stateDb::readWrite, state::stateDb::full, error));
    EXPECT_NE(error.find("99"), std::string::npos);
}

}  // namespace
