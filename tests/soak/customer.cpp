#include "customer.h"

#include <cmath>
#include <utility>
#include <vector>

#include "httpCall.h"
#include "soakClock.h"

namespace soak {

namespace {

const char* const RESERVED = "Заказ зарегистрирован";
const char* const POSTPAID = "Заказ принят (постоплата).";
constexpr int ORDER_TRIES = 5;
constexpr int FUELING_TRIES = 8;
constexpr double RETRY_PAUSE_SEC = 1.5;
// How long a driver waits for his pump to settle the order once he is done with it.
constexpr double FINISH_WAIT_SEC = 100;

// What the driver does with an order, and how often (weights).
const std::vector<std::pair<const char*, int>> PLANS = {
    {"full", 30},             // lifts, fills up to the preset, hangs up
    {"partial", 12},          // hangs up before the preset is reached
    {"noLift", 7},            // never lifts: the start timeout cancels the order
    {"zero", 5},              // the pump delivers nothing: the order is cancelled
    {"resetAtPump", 5},       // the pump is reset to idle while it waits for the nozzle
    {"cancelBeforeLift", 7},  // /canceled while the pump waits for the nozzle
    {"cancelDuring", 9},      // /canceled while fuel flows: completed with the litres so far
    {"pauseResume", 6},       // the delivery is paused at the pump and resumed
    {"lateLift", 5},          // lifts around the start timeout
    {"liftEarly", 4},         // lifts before /fueling; the pump delivers as soon as it is ready
    {"abandon", 5},           // /fueling never comes: the reservation ends by its timeout
    {"cancelReserved", 4},    // /canceled instead of /fueling
    {"postPay", 9},           // fills up at the pump, then the order pays for it
};

bool idle(int status)
{
    return status == 2 || status == 3;
}

std::string litres(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
}

}  // namespace

customer::customer(int n, customerTown& t) : number(n), town(t)
{
    std::seed_seq seq{t.seed, static_cast<uint32_t>(n)};
    rng.seed(seq);
}

double customer::uniform(double from, double to)
{
    return std::uniform_real_distribution<double>(from, to)(rng);
}

bool customer::chance(double p)
{
    return uniform(0, 1) < p;
}

void customer::run()
{
    pause(uniform(0, 2), town.stop);
    while (!town.stop) {
        serve();
        pause(uniform(0.2, 3), town.stop);
    }
}

std::string customer::drawPlan()
{
    int total = 0;
    for (const auto& p : PLANS) total += p.second;
    int at = std::uniform_int_distribution<int>(0, total - 1)(rng);
    for (const auto& p : PLANS) {
        if (at < p.second) return p.first;
        at -= p.second;
    }
    return PLANS.front().first;
}

soakOrder customer::makeOrder()
{
    const sim::stationConfig cfg = town.station.pcu.config();
    soakOrder o;
    o.id = "S" + std::to_string(town.seed) + "-" + std::to_string(++town.orders);
    o.clientKey = "cust" + std::to_string(number);
    // Mostly a pump that looks free, as a driver drives up to one; now and then any pump, so that
    // orders meet on one pump.
    std::vector<size_t> free;
    for (size_t i = 0; i < cfg.pumps.size(); ++i)
        if (idle(town.station.pcu.status(cfg.pumps[i].num))) free.push_back(i);
    const bool any = free.empty() || chance(0.2);
    const size_t at = any ? std::uniform_int_distribution<size_t>(0, cfg.pumps.size() - 1)(rng)
                          : free[std::uniform_int_distribution<size_t>(0, free.size() - 1)(rng)];
    const sim::simPumpConfig& p = cfg.pumps[at];
    o.pump = p.num;
    const sim::simHose& h = p.hoses[std::uniform_int_distribution<size_t>(0, p.hoses.size() - 1)(rng)];
    const sim::simProduct& prod = cfg.products[static_cast<size_t>(h.prod)];
    o.prod = prod.cod;
    o.price = static_cast<double>(prod.price) / 100.0;
    o.volume = static_cast<double>(std::uniform_int_distribution<int>(50, 1200)(rng)) / 100.0;
    o.summa = std::round(o.price * o.volume * 100.0) / 100.0;
    const char* contracts[] = {"", "Individual", "Corporation"};
    o.contract = contracts[std::uniform_int_distribution<int>(0, 2)(rng)];
    o.plan = drawPlan();
    return o;
}

void customer::serve()
{
    soakOrder o = makeOrder();
    cancelAt = chance(0.06) ? runClock().now() + uniform(0, 25) : -1;
    if (o.plan == "postPay") {
        if (servePostPay(o)) town.book.add(o);
        return;
    }
    o.note("order for pump " + std::to_string(o.pump) + ", " + litres(o.volume) + " l, plan " + o.plan);
    place(o);
    if (o.placed == placement::reserved) {
        if (o.plan == "liftEarly") lift(o);
        if (o.plan == "abandon") {
            o.note("no /fueling");
        } else if (o.plan == "cancelReserved") {
            pause(uniform(0, 1.5));
            sendCancel(o);
            finish(o);
        } else {
            pause(uniform(0, 1.5));
            fuel(o);
            if (o.fueling == start::accepted && chance(0.1)) {
                pause(uniform(0, 1));
                o.note("/fueling again");
                fuel(o);
            }
            if (o.fueling != start::refused) drive(o);
            finish(o);
        }
    }
    town.book.add(o);
}

// --- post-payment --------------------------------------------------------------------------------

// False when the pump could not start a delivery of its own (it is busy): no order then.
bool customer::servePostPay(soakOrder& o)
{
    o.postPay = true;
    if (!fillAtPump(o)) return false;
    place(o);
    if (o.placed == placement::reserved) {
        if (chance(0.15)) {
            o.plan = "postPayAbandon";
            o.note("no /fueling");
        } else {
            pause(uniform(0, 1.5));
            fuel(o);
        }
    }
    tillTakesPayment(o);
    return true;
}

// The driver fills up at the pump without an order; the delivery then waits for its payment.
bool customer::fillAtPump(soakOrder& o)
{
    const int64_t ml = 10 * static_cast<int64_t>(std::uniform_int_distribution<int>(50, 1000)(rng));
    const int r = town.station.pcu.startLocalDelivery(o.pump, o.prod, ml);
    if (r != 1) return false;
    o.trannum = pump(o).trannum;
    o.extendedId = std::to_string(o.trannum);
    o.volume = static_cast<double>(ml) / 1000.0;
    o.summa = std::round(o.price * o.volume * 100.0) / 100.0;
    o.note("delivery at the pump for pump " + std::to_string(o.pump) + ", " + litres(o.volume) +
           " l, transaction " + o.extendedId + ", plan " + o.plan);
    pause(uniform(0.2, 1.5));
    lift(o);
    const double filled = runClock().now() + 30;
    while (runClock().now() < filled && mine(o, pump(o)) && pump(o).status != 9) pause(0.01);
    pause(uniform(0.2, 1));
    hang(o);
    const double deadline = runClock().now() + 5;
    while (runClock().now() < deadline && pump(o).status != 11) pause(0.01);
    o.note("delivery waits for payment (status " + std::to_string(pump(o).status) + ", " +
           std::to_string(pump(o).volume) + " ml)");
    return true;
}

// Once the order no longer holds the delivery (fuelweb settled it, or the order ended without
// paying it, or never took), the till takes the payment of a delivery still unpaid, unless
// fuelweb's workplace holds its payment lock.
void customer::tillTakesPayment(soakOrder& o)
{
    const double deadline = runClock().now() + FINISH_WAIT_SEC;
    double lastTagged = runClock().now();
    while (runClock().now() < deadline) {
        if (cancelAt >= 0 && runClock().now() >= cancelAt && o.placed == placement::reserved) {
            cancelAt = -1;
            o.note("a cancellation at a random moment");
            sendCancel(o);
        }
        const sim::pumpState st = pump(o);
        if (!mine(o, st) || st.status != 11) {
            o.note("delivery no longer waits for payment (status " + std::to_string(st.status) + ")");
            return;
        }
        std::string tag;
        bool tagged = false;
        town.station.table.tagOf(o.pump, tag, tagged);
        if (tagged || !tag.empty()) lastTagged = runClock().now();
        const bool orderOver = o.placed == placement::refused ||
                               town.station.acceptedFinal(o.id) == "/canceled" ||
                               (o.placed == placement::unknown && runClock().now() - lastTagged > 30);
        if (orderOver && !tagged && tag.empty() && st.lockType == 0) {
            town.station.pcu.editPump(o.pump, [](sim::pumpState& p) {
                p.needPayFlag = 0;
                p.payWplace = 0;
                p.presetFlags = 0;
            });
            town.station.pcu.setPumpStatus(o.pump, 3);
            o.note("the till took the payment");
            return;
        }
        pause(0.05);
    }
    o.note("delivery still waits for payment after " + std::to_string(static_cast<int>(FINISH_WAIT_SEC)) +
           " s");
}

// --- the platform's requests -------------------------------------------------------------------------

void customer::place(soakOrder& o)
{
    bool unanswered = false;
    for (int attempt = 0; attempt < ORDER_TRIES; ++attempt) {
        if (attempt == 0) o.placedAt = runClock().now();
        httpResult r = postJson(town.station.webPort(), "/api/fuelweb/order?apikey=" + o.apikey(), o.body());
        if (!r.answered()) {
            o.note("/order: no answer (" + r.error + ")");
            unanswered = true;
            pause(RETRY_PAUSE_SEC);
            continue;
        }
        o.orderStatus = r.status;
        o.orderMsg = r.field("msg");
        o.note("/order: " + std::to_string(r.status) + " " + r.body);
        if (r.status == 200 && o.orderMsg == (o.postPay ? POSTPAID : RESERVED)) {
            o.placed = placement::reserved;
            if (!o.postPay) o.trannum = std::atoi(r.field("trannum").c_str());
        } else {
            // After a request that got no answer, a refusal does not tell whether that one reserved.
            o.placed = unanswered ? placement::unknown : placement::refused;
        }
        return;
    }
    o.placed = placement::unknown;
}

void customer::fuel(soakOrder& o)
{
    const start before = o.fueling;
    for (int attempt = 0; attempt < FUELING_TRIES; ++attempt) {
        httpResult r =
            postJson(town.station.webPort(), "/api/fuelweb/fueling?apikey=" + o.apikey(), o.body());
        if (!r.answered()) {
            o.note("/fueling: no answer (" + r.error + ")");
            if (before != start::accepted) o.fueling = start::unknown;
            pause(RETRY_PAUSE_SEC);
            continue;
        }
        o.note("/fueling: " + std::to_string(r.status) + " " + r.body);
        if (before == start::accepted) return;  // a repeat changes nothing of the order
        o.fuelingStatus = r.status;
        o.fuelingMsg = r.field("msg");
        o.fueling = r.status == 200 ? start::accepted : start::refused;
        return;
    }
}

void customer::sendCancel(soakOrder& o)
{
    ++o.cancelsSent;
    const std::string form = "apikey=" + o.apikey() + "&orderId=" + o.id + "&reason=soak";
    for (int attempt = 0; attempt < 2; ++attempt) {
        httpResult r = postForm(town.station.webPort(), "/api/fuelweb/canceled", form);
        if (r.answered()) {
            o.note("/canceled: " + std::to_string(r.status));
            return;
        }
        o.note("/canceled: no answer (" + r.error + ")");
        pause(RETRY_PAUSE_SEC);
    }
}

// --- the driver ------------------------------------------------------------------------------------

void customer::lift(soakOrder& o)
{
    town.station.pcu.liftNozzle(o.pump);
    o.note("nozzle lifted (status " + std::to_string(pump(o).status) + ")");
}

void customer::hang(soakOrder& o)
{
    const sim::pumpState st = pump(o);
    town.station.pcu.hangNozzle(o.pump);
    o.note("nozzle hung (status " + std::to_string(st.status) + ", " + std::to_string(st.volume) + " ml)");
}

// True once the pump shows the order's transaction ready for the nozzle (or already delivering,
// when the nozzle was up before); false when the pump has moved on without it.
bool customer::waitReady(soakOrder& o)
{
    const double deadline = o.placedAt + town.orderTimeout + 60;
    while (runClock().now() < deadline) {
        const sim::pumpState st = pump(o);
        if (!mine(o, st) || idle(st.status)) {
            o.note("pump moved on before the start (status " + std::to_string(st.status) + ", transaction " +
                   std::to_string(st.trannum) + ")");
            return false;
        }
        if (st.status == 6 || st.status == 7 || st.status == 8 || st.status == 9 || st.status == 14)
            return true;
        pause(0.01);
    }
    o.note("pump not ready in time");
    return false;
}

void customer::drive(soakOrder& o)
{
    if (!waitReady(o)) return;
    o.note("pump ready (status " + std::to_string(pump(o).status) + ")");
    actOnReadyPump(o);
}

void customer::actOnReadyPump(soakOrder& o)
{
    sim::pcuSimulator& pcu = town.station.pcu;
    const std::string& plan = o.plan;
    auto stillWaiting = [&] {
        const sim::pumpState st = pump(o);
        return mine(o, st) && st.status == 6;
    };
    if (plan == "noLift" || plan == "liftEarly") return;
    if (plan == "resetAtPump") {
        pause(uniform(0, 1.5));
        if (stillWaiting()) {
            pcu.setPumpStatus(o.pump, 3);
            o.note("pump reset to idle at the pump");
        }
        return;
    }
    if (plan == "cancelBeforeLift") {
        pause(uniform(0, 1.5));
        sendCancel(o);
        return;
    }
    if (plan == "lateLift") {
        pause(o.placedAt + town.orderTimeout + uniform(-3, 2) - runClock().now());
    } else {
        pause(uniform(0.2, 2.5));
    }
    if (!stillWaiting()) return;
    if (plan == "zero") {
        pcu.setZeroVolume(o.pump, true);
        lift(o);
        pause(uniform(0.5, 2));
        hang(o);
        waitFlowEnd(o, 5);
        pcu.setZeroVolume(o.pump, false);
        return;
    }
    lift(o);
    if (plan == "partial") {
        pause(uniform(0.2, 3));
        if (pump(o).status == 7) hang(o);
    } else if (plan == "cancelDuring") {
        pause(uniform(0.2, 2.5));
        sendCancel(o);
    } else if (plan == "pauseResume") {
        pause(uniform(0.2, 2));
        pcu.pauseDelivery(o.pump);
        o.note("delivery paused at the pump");
        pause(uniform(0.5, 3));
        pcu.resumeDelivery(o.pump);
        o.note("delivery resumed");
    }
}

// Waits while the pump delivers the order (7, 8), for at most the given seconds.
void customer::waitFlowEnd(const soakOrder& o, double seconds)
{
    const double deadline = runClock().now() + seconds;
    while (runClock().now() < deadline) {
        const sim::pumpState st = pump(o);
        if (!mine(o, st) || (st.status != 7 && st.status != 8)) return;
        pause(0.01);
    }
}

// The driver hangs up once the delivery has ended (or at once when the pump has moved on), and
// waits until the pump no longer shows the order: settled, given back, or timed out.
void customer::finish(soakOrder& o)
{
    const double deadline = runClock().now() + FINISH_WAIT_SEC;
    double hangAt = -1;
    while (runClock().now() < deadline) {
        if (cancelAt >= 0 && runClock().now() >= cancelAt) {
            cancelAt = -1;
            o.note("a cancellation at a random moment");
            sendCancel(o);
        }
        const sim::pumpState st = pump(o);
        if (!mine(o, st) || idle(st.status)) {
            // The pump no longer serves the order. A nozzle left up on the idle pump is this
            // driver's; once another order holds the pump it is no longer his to touch.
            if (mine(o, st) && st.nozzleUp) hang(o);
            o.note("pump done with the order (status " + std::to_string(st.status) + ", transaction " +
                   std::to_string(st.trannum) + ")");
            return;
        }
        const bool ended = st.status == 9 || st.status == 14;
        if (st.nozzleUp && ended) {
            if (hangAt < 0) hangAt = runClock().now() + uniform(0.2, 1.2);
            if (runClock().now() >= hangAt) hang(o);
        }
        pause(0.02);
    }
    if (pump(o).nozzleUp) hang(o);
    o.note("pump still shows the order after " + std::to_string(static_cast<int>(FINISH_WAIT_SEC)) + " s");
}

}  // namespace soak
