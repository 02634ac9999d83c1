// The order journal: rows written by one thread in the order they were recorded (also across the
// writers of two service cycles), the pump taken from the order's earlier rows, and a database that
// fails costing one error line and never the request's time.
#include "journal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stateTestSupport.h"
#include "webTestSupport.h"

namespace {

using namespace webtest;

class Journal : public ::testing::Test {
protected:
    stateDir dir;
    logCapture logs;

    std::unique_ptr<state::journalWriter> writer(int busyWaitMs = state::stateDb::BUSY_WAIT_MS)
    {
        std::string error;
        auto db = state::stateDb::open(dir.file(), state::stateDb::readWrite, state::stateDb::normal, error);
        EXPECT_TRUE(db) << error;
        db->busyWaitMs(busyWaitMs);
        return std::make_unique<state::journalWriter>(std::move(db));
    }
};

TEST_F(Journal, NothingIsQueuedWithoutAWriter)
{
    state::journal::record("ORD", 1, state::journal::ADMITTED, 0, "x");
    EXPECT_EQ(state::journal::queued(), 0u);
}

TEST_F(Journal, RowsOfAnOrderInTheirOrderWithItsPump)
{
    auto w = writer();
    state::journal::record("A", 3, state::journal::ADMITTED, 0, "резервирование");
    state::journal::record("B", 5, state::journal::REFUSED, 400, "ТРК занята");
    state::journal::record("A", 3, state::journal::RESERVED, 200, "транзакция 77");
    state::journal::record("A", 0, state::journal::CANCELLED, 0, "Нет связи с ТРК");  // pump unknown here
    state::journal::record("", 3, state::journal::ADMITTED, 0, "no order, no row");
    w->flush();
    auto rows = journalOf(dir.file(), "A");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(journalKinds(dir.file(), "A"),
              (std::vector<std::string>{"admitted:0:резервирование", "reserved:200:транзакция 77",
                                        "cancelled:0:Нет связи с ТРК"}));
    for (const auto& r : rows) EXPECT_EQ(r.pump, 3);
    EXPECT_LE(rows[0].atUs, rows[2].atUs);
    EXPECT_EQ(journalKinds(dir.file(), "B"), std::vector<std::string>{"refused:400:ТРК занята"});
}

// A restart of the service starts the next cycle's writer before the last one stops: rows
// recorded all the while come out in the order they were recorded.
TEST_F(Journal, WritersOfTwoCyclesKeepTheOrder)
{
    constexpr int ROWS = 3000;
    auto first = writer();
    std::atomic<int> n{0};
    std::thread requests([&] {
        for (; n < ROWS; ++n) {
            state::journal::record("SEQ", 1, state::journal::VOLUME, 0, std::to_string(n.load()));
            if (n % 20 == 0) std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    while (n < ROWS / 3) std::this_thread::yield();
    auto second = writer();
    first.reset();
    requests.join();
    second->flush();
    auto rows = journalOf(dir.file(), "SEQ");
    ASSERT_EQ(rows.size(), static_cast<size_t>(ROWS));
    for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i].text, std::to_string(i));
}

// The journal must not hold up an order: recording returns at once, a failed write costs the rows
// of that write and one error line, and the writer goes on once the file takes writes again.
TEST_F(Journal, FileThatRefusesWritesCostsRowsAndOneErrorLine)
{
    auto w = writer(20);
    {
        writeBlocker blocked(dir.file());
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i) {
            state::journal::record("LOST", 1, state::journal::VOLUME, 0, std::to_string(i));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
        w->flush();
    }
    state::journal::record("KEPT", 1, state::journal::ADMITTED, 0, "");
    w->flush();
    EXPECT_EQ(journalOf(dir.file(), "KEPT").size(), 1u);
    std::vector<std::string> errors = logs.texts("fuelweb/state");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Ошибка записи журнала заказов в файл состояния", 0), 0u);
}

}  // namespace
