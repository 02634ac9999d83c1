#include "fuelingStation.h"

#include <chrono>
#include <cstring>
#include <sstream>

#include "watchedOrders.h"
#include "webConfig.h"

namespace webtest {

// --- order --------------------------------------------------------------------------------------

std::string order::body() const
{
    std::ostringstream b;
    b << "{\"id\":\"" << id << "\",\"app_id\":1,\"trk\":" << trk << ",\"prod\":" << prod
      << ",\"price\":" << price << ",\"volume\":" << volume << ",\"summa\":" << summa;
    if (!extendedId.empty()) b << ",\"ExtendedId\":\"" << extendedId << "\"";
    b << "}";
    return b.str();
}

// --- the station --------------------------------------------------------------------------------

rigOptions FuelingStation::options()
{
    rigOptions o;
    o.station.tickMs = 5;
    o.station.flowMlPerTick = 100;
    o.timeFactor = SPEED;
    o.serve = false;
    return o;
}

FuelingStation::FuelingStation() : stationRig(options()) {}

void FuelingStation::start(int orderTimeout, std::map<std::string, std::string> fuelweb)
{
    fuelweb["order_timeout"] = std::to_string(orderTimeout);
    serve(fuelweb);
    followController();
    ASSERT_TRUE(waitRecord(4, [](const pcudata::trkState_t& r) { return pcudata::peek(r.trk) == 4; }));
}

void FuelingStation::TearDown()
{
    // A test that failed half-way may leave a delivery watching a pump that never moves on, or a
    // table nobody renews: every pump is brought back to idle on a followed table, so that the
    // watches end and the failure is reported instead of the teardown waiting for good.
    if (HasFailure()) {
        if (!follower) followController();
        for (int n = 1; n <= pcudata::TRK_COUNT; ++n) pcu.setPumpStatus(n, pcudata::trkStatus::IDLE);
    }
    for (std::thread& t : helpers) t.join();
    svc.reset();  // waits for the requests still running
}

void FuelingStation::placeOrder(const order& o)
{
    pcudata::pcuControl ctl("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
    ctl.set_wplace(20);
    ctl.set_wplace_typ(4);
    pcudata::cntlMsgResult res;
    int err = 0;
    ASSERT_EQ(ctl.reserve_trk(o.trk, res, err, o.prod, -1), 1) << res.txt;
    ASSERT_TRUE(waitStatus(o.trk, 10));
    tag(o);
}

void FuelingStation::tagFinished(const order& o)
{
    ASSERT_TRUE(waitStatus(o.trk, 11));
    tag(o);
}

void FuelingStation::tag(const order& o, int64_t tagTime)
{
    pcudata::trkState_t& rec = record(o.trk);
    ASSERT_TRUE(follower->mon.lockTrkPtr(&rec));
    pcudata::pokeText(rec.orderId, o.id);
    pcudata::pokeText(rec.clientKey, o.client);
    pcudata::poke(rec.tagged, 1);
    const int32_t now = static_cast<int32_t>(pcudata::timeSrc().now());
    pcudata::poke(rec.tagTime, tagTime < 0 ? now : static_cast<int32_t>(tagTime));
    pcudata::poke(rec.notifyTime, now);
    pcudata::poke(rec.notifyDue, 0);
    follower->mon.unlockTrkPtr(&rec);
}

void FuelingStation::fillUp(const order& o)
{
    ASSERT_TRUE(waitStatus(o.trk, 6));
    pcu.liftNozzle(o.trk);
    ASSERT_TRUE(waitStatus(o.trk, 9));
    pcu.hangNozzle(o.trk);
}

void FuelingStation::deliveredAtThePump(int trk, int64_t ml)
{
    ASSERT_EQ(pcu.startLocalDelivery(trk, 92, ml), 1);
    ASSERT_TRUE(waitStatus(trk, 6));
    pcu.liftNozzle(trk);
    ASSERT_TRUE(waitStatus(trk, 9));
    pcu.hangNozzle(trk);
    ASSERT_TRUE(waitStatus(trk, 11));
}

void FuelingStation::cutAfter(const std::string& cmd)
{
    const size_t before = pcu.receivedCommands(cmd).size();
    pcu.dropNext(cmd);
    helpers.emplace_back([this, cmd, before] {
        if (pcu.waitFor([&] { return pcu.receivedCommands(cmd).size() > before; }, WAIT_MS))
            pcu.closeControlConnections();
    });
}

httpReply FuelingStation::fueling(const order& o)
{
    return httpPost(svc->port(), "/api/fuelweb/fueling?apikey=" + o.apikey(), "application/json", o.body());
}

httpReply FuelingStation::cancel(const std::string& apikey, const std::string& orderId)
{
    return httpPost(svc->port(), "/api/fuelweb/canceled", "application/x-www-form-urlencoded",
                    "apikey=" + apikey + "&orderId=" + orderId + "&reason=driver");
}

std::vector<sim::platformRequest> FuelingStation::notices(const std::string& path,
                                                          const std::string& orderId) const
{
    std::vector<sim::platformRequest> out;
    for (const sim::platformRequest& r : platform.requestsTo(path)) {
        auto form = sim::platformStub::formFields(r.body);
        std::string id = form.count("orderId") ? form["orderId"] : form["orderid"];
        if (id == orderId) out.push_back(r);
    }
    return out;
}

std::vector<sim::platformRequest> FuelingStation::finals(const std::string& orderId)
{
    auto count = [&] { return notices("/completed", orderId).size() + notices("/canceled", orderId).size(); };
    pcu.waitFor([&] { return count() > 0 && !azs_apps::watchedOrders::isWatched(orderId); }, WAIT_MS);
    std::vector<sim::platformRequest> out = notices("/completed", orderId);
    for (const sim::platformRequest& r : notices("/canceled", orderId)) out.push_back(r);
    return out;
}

std::vector<std::string> FuelingStation::messages(const std::string& orderId) const
{
    std::vector<std::string> out;
    for (const sim::platformRequest& r : notices("/message", orderId)) out.push_back(field(r, "msg"));
    return out;
}

std::string FuelingStation::field(const sim::platformRequest& r, const std::string& name)
{
    auto form = sim::platformStub::formFields(r.body);
    return form.count(name) ? form[name] : std::string();
}

bool FuelingStation::waitRecord(int trk, const std::function<bool(const pcudata::trkState_t&)>& cond)
{
    return pcu.waitFor([&] { return cond(record(trk)); }, WAIT_MS);
}

bool FuelingStation::waitStatus(int trk, int status)
{
    return waitRecord(trk,
                      [status](const pcudata::trkState_t& r) { return pcudata::peek(r.status) == status; });
}

int FuelingStation::stopFromTill(int trk)
{
    pcudata::pcuControl ctl("127.0.0.1", static_cast<unsigned>(pcu.ctlPort()));
    ctl.set_wplace(1);
    pcudata::cntlMsgResult res;
    int err = 0;
    return ctl.stop_trk(trk, "", res, err);
}

// --- the station with its state file --------------------------------------------------------------

void StateFileStation::begin(int orderTimeout)
{
    start(orderTimeout, {{"state_path", "\"" + stateFiles.file() + "\""}});
    durable = std::make_unique<azs_apps::durableState>(azs_apps::settings::read(
        azs_apps::webConfig::fromText("{\"fuelweb\":{\"state_path\":\"" + stateFiles.file() +
                                      "\",\"upstream_endpoint\":\"" + platform.baseUrl() + "\"}}")));
    ASSERT_TRUE(durable->ready());
}

void StateFileStation::TearDown()
{
    FuelingStation::TearDown();
    durable.reset();
}

}  // namespace webtest
