// The holds of our workplace: which intent may be taken while other holds are open on the pump.
#include <gtest/gtest.h>

#include "pumpHolds.h"

namespace state = azs_apps::state;

namespace {

state::pumpHold hold(const char* orderId, int pump, state::holdKind kind)
{
    state::pumpHold h;
    h.orderId = orderId;
    h.pump = pump;
    h.kind = kind;
    return h;
}

TEST(PumpHolds, AnIntentIsRefusedWhileAnotherOrderHoldsThePump)
{
    const auto R = state::holdKind::reservation;
    const auto P = state::holdKind::payment;
    struct row {
        const char* what;
        state::pumpHold open;  // already open on pump 1
        bool held;             // the open one got its tag
        bool orphan;           // its request has gone
        state::pumpHold asked;
        bool taken;
    } rows[] = {
        {"another order's reservation", hold("A", 1, R), true, false, hold("B", 1, R), false},
        {"another order's intent left by a killed process", hold("A", 1, R), false, true, hold("B", 1, R),
         false},
        {"another order's payment lock", hold("A", 1, P), true, false, hold("B", 1, R), false},
        {"the same order taking the same twice", hold("A", 1, R), false, false, hold("A", 1, R), false},
        {"the same order's intent its killed process left", hold("A", 1, P), false, true, hold("A", 1, P),
         true},
        {"the same order's payment lock on its reservation", hold("A", 1, R), true, false, hold("A", 1, P),
         true},
        {"another pump", hold("A", 1, R), true, false, hold("B", 2, R), true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        state::pumpHolds holds(nullptr);
        const int64_t first = holds.intend(r.open, 100);
        ASSERT_NE(first, 0);
        if (r.held) holds.held(first);
        if (r.orphan) holds.orphan(first);
        const int64_t second = holds.intend(r.asked, 101);
        EXPECT_EQ(second != 0, r.taken);
        // Once the first has ended, nothing stands in the way.
        holds.end(first, 102);
        if (second != 0) holds.end(second, 102);
        EXPECT_NE(holds.intend(r.asked, 103), 0);
    }
}

}  // namespace
