#include "simPump.h"

#include <algorithm>

#include "replyCodes.h"

namespace sim {

simPump::simPump(const simPumpConfig& config, const std::vector<simProduct>& products)
{
    st.trk = config.num;
    for (const simHose& h : config.hoses) {
        const simProduct& p = products.at(static_cast<size_t>(h.prod));
        hoses.push_back({h.num, p.cod, p.name, p.price});
    }
    if (!hoses.empty()) select(hoses.front());
}

int simPump::linkState() const
{
    if (st.status == 0 || st.status == 1) return rc::noLink;
    if (st.status == 13) return rc::pumpOff;
    if (st.status == 16) return rc::pumpBlocked;
    return rc::ok;
}

const simPump::hoseInfo* simPump::hoseFor(int prodCode) const
{
    for (const hoseInfo& h : hoses)
        if (h.prodCode == prodCode) return &h;
    return nullptr;
}

void simPump::select(const hoseInfo& h)
{
    st.statusAux = h.num;
    st.prodCode = h.prodCode;
    st.prodName = h.prodName;
    priceUsed = h.price;
}

void simPump::enter(int status)
{
    // A reservation holds the pump for its workplace only while the pump shows it.
    if (st.status == 10 && status != 10 && st.lockType == 0) st.lockWplace = 0;
    st.status = status;
    ticksInStatus = 0;
}

// Back to the idle status that matches the nozzle; the last transaction's figures stay visible.
void simPump::toIdle()
{
    enter(st.nozzleUp ? 2 : 3);
    flashSaved = -1;
}

int simPump::test() const
{
    int link = linkState();
    if (link != rc::ok) return link;
    return idle() ? rc::ok : rc::busy;
}

int simPump::reserve(int prodCode, int pmt, int trannum, int wplace)
{
    int link = test();
    if (link != rc::ok) return link;
    const hoseInfo* h = hoseFor(prodCode);
    if (!h) return rc::badProduct;
    select(*h);
    st.trannum = trannum;
    st.presetPmt = pmt;
    enter(10);
    st.lockWplace = wplace;
    return rc::ok;
}

int simPump::release()
{
    int link = linkState();
    if (link != rc::ok) return link;
    if (idle()) return rc::ok;
    bool beforeDelivery = st.status == 10 || (st.status >= 4 && st.status <= 6);
    if (!beforeDelivery) return rc::badState;
    toIdle();
    return rc::ok;
}

int simPump::begin(const presetOrder& order, const hoseInfo& h)
{
    select(h);
    priceUsed = order.price > 0 ? order.price : h.price;
    st.presetVolume = order.volumeMl;
    st.presetMoney = order.money;
    st.presetPrice = priceUsed;
    st.presetPmt = order.pmt;
    st.presetTyp = order.typ;
    limitMl = order.volumeMl > 0 ? order.volumeMl : order.money * 1000 / std::max<int64_t>(priceUsed, 1);
    payer = order.wplace;
    st.volume = 0;
    st.amount = 0;
    return rc::ok;
}

int simPump::preset(const presetOrder& order, int newTrannum)
{
    int link = linkState();
    if (link != rc::ok) return link;
    if (!idle() && st.status != 10) return rc::busy;
    const hoseInfo* h = hoseFor(order.prodCode);
    if (!h) return rc::badProduct;
    if (order.volumeMl < 0 || order.money < 0 || order.price < 0) return rc::badParam;
    if (order.volumeMl == 0 && order.money == 0) return rc::badParam;
    if (st.status != 10) st.trannum = newTrannum;
    begin(order, *h);
    st.presetFlags = 0;
    enter(4);
    return rc::ok;
}

int simPump::startLocal(const presetOrder& order, int trannum)
{
    if (!idle()) return rc::busy;
    const hoseInfo* h = hoseFor(order.prodCode);
    if (!h) return rc::badProduct;
    st.trannum = trannum;
    begin(order, *h);
    if (limitMl <= 0) limitMl = INT64_MAX / 2;
    st.presetFlags = 2;
    enter(6);
    return rc::ok;
}

int simPump::stop()
{
    int link = linkState();
    if (link != rc::ok) return link;
    if (st.status == 10 || (st.status >= 4 && st.status <= 6)) toIdle();
    if (st.status == 7 || st.status == 8) enter(14);
    return rc::ok;
}

int simPump::testBusy()
{
    int link = linkState();
    if (link != rc::ok) return link;
    if (st.status == 10) toIdle();
    return rc::ok;
}

int simPump::lockPayment(int wplace, int typ)
{
    int link = linkState();
    if (link != rc::ok) return link;
    if (st.lockType != 0 && st.lockWplace != wplace) return rc::payLocked;
    st.lockWplace = typ > 0 ? wplace : 0;
    st.lockType = typ > 0 ? typ : 0;
    return rc::ok;
}

int simPump::changePayment(int pmt)
{
    int link = linkState();
    if (link != rc::ok) return link;
    st.presetPmt = pmt;
    return rc::ok;
}

int simPump::settle(int wplace, int typ)
{
    int link = linkState();
    if (link != rc::ok) return link;
    if (typ != 5) return rc::badParam;
    if (st.status != 11) return rc::badState;
    if (st.lockType != 0 && st.lockWplace != wplace) return rc::payLocked;
    st.needPayFlag = 0;
    st.payWplace = 0;
    st.lockWplace = 0;
    st.lockType = 0;
    st.presetFlags = 0;
    toIdle();
    return rc::ok;
}

void simPump::lift()
{
    if (faults.neverLift) return;
    st.nozzleUp = true;
    if (st.status == 3) enter(2);
}

void simPump::hang()
{
    st.nozzleUp = false;
    if (st.status == 2) enter(3);
    if (st.status == 7 || st.status == 8) enter(9);
}

void simPump::force(int status)
{
    flashSaved = -1;
    if (status == 2 || status == 3) {
        st.nozzleUp = status == 2;
        toIdle();
        return;
    }
    // A delivery forced without an order runs until the nozzle is hung up.
    if (status == 7 && limitMl <= 0) limitMl = INT64_MAX / 2;
    enter(status);
}

void simPump::flash(int status, int64_t untilMs)
{
    if (flashSaved < 0) flashSaved = st.status;
    st.status = status;
    flashUntilMs = untilMs;
}

void simPump::pause()
{
    if (st.status == 7) enter(8);
}

void simPump::resume()
{
    if (st.status == 8) enter(7);
}

void simPump::finish()
{
    st.needPayFlag = 1;
    st.payWplace = payer;
    enter(11);
}

bool simPump::driverDue(const stationConfig& cfg) const
{
    return cfg.autoDriverTicks > 0 && ticksInStatus >= cfg.autoDriverTicks;
}

void simPump::deliverStep(const stationConfig& cfg)
{
    int64_t cap = limitMl + faults.overfillMl;
    int64_t add = faults.zeroVolume ? 0 : cfg.flowMlPerTick;
    st.volume = std::min(st.volume + add, cap);
    st.amount = (st.volume * priceUsed + 500) / 1000;
    if (faults.resetAtMl >= 0 && st.volume >= faults.resetAtMl) {
        faults.resetAtMl = -1;
        force(faults.resetStatus);
        return;
    }
    if (st.volume >= cap || (faults.zeroVolume && driverDue(cfg))) enter(9);
}

void simPump::tick(const stationConfig& cfg, int64_t nowMs)
{
    if (flashSaved >= 0) {
        if (nowMs < flashUntilMs) return;
        st.status = flashSaved;
        flashSaved = -1;
    }
    ++ticksInStatus;
    switch (st.status) {
        case 4:
            enter(5);
            break;
        case 5:
            enter(6);
            break;
        case 6:
            if (!st.nozzleUp && driverDue(cfg)) lift();
            if (st.nozzleUp) enter(7);
            break;
        case 7:
            deliverStep(cfg);
            break;
        case 9:
        case 14:
            if (st.nozzleUp && driverDue(cfg)) st.nozzleUp = false;
            if (!st.nozzleUp) st.status == 9 ? finish() : enter(9);
            break;
        default:
            break;
    }
}

}  // namespace sim
