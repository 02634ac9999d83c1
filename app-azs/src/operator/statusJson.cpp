#include "statusJson.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Stringifier.h>

#include <cmath>
#include <sstream>

#include "str.h"

namespace azs_apps {

namespace {

using Poco::JSON::Array;
using Poco::JSON::Object;

// Litres to the millilitre, money to the kopeck, milliseconds to the microsecond: no binary
// fractions like 1.1000000000000001 on the page.
double rounded(double v, double unit)
{
    return std::round(v / unit) * unit;
}

Object::Ptr pumpJson(const pumpView& p)
{
    Object::Ptr o = new Object;
    o->set("number", p.number);
    o->set("status", p.status);
    o->set("statusText", p.statusText);
    o->set("nozzle", p.nozzle);
    o->set("product", p.product);
    o->set("productName", p.productName);
    o->set("litres", rounded(p.litres, 0.001));
    o->set("money", rounded(p.money, 0.01));
    o->set("blocked", p.blocked);
    if (!p.orderTag.empty()) {
        o->set("order", p.orderTag);
        o->set("client", p.clientKeyPrefix);
        o->set("tagAgeSec", p.tagAgeSec);
    } else {
        o->set("order", Poco::Dynamic::Var());
    }
    return o;
}

Object::Ptr orderJson(const orderView& v)
{
    Object::Ptr o = new Object;
    o->set("order", v.orderId);
    o->set("pump", v.pump);
    o->set("stage", v.stage);
    o->set("litres", rounded(v.litres, 0.001));
    o->set("ageSec", v.ageSec);
    return o;
}

Object::Ptr noticeJson(const noticeView& n)
{
    Object::Ptr o = new Object;
    o->set("order", n.orderId);
    o->set("kind", n.kind);
    o->set("state", n.state);
    o->set("attempts", n.attempts);
    o->set("lastAnswer", n.lastAnswer);
    o->set("nextAttemptAt", static_cast<int64_t>(n.nextAttemptAt));
    o->set("ageSec", n.ageSec);
    return o;
}

Object::Ptr controllerJson(const controllerView& c)
{
    Object::Ptr o = new Object;
    o->set("address", c.address);
    o->set("probed", c.probed);
    o->set("connected", c.connected);
    o->set("roundTripMs", rounded(c.roundTripMs, 0.001));
    o->set("checkedAgoSec", c.checkedAgoSec);
    return o;
}

Object::Ptr tableJson(const tableView& t)
{
    Object::Ptr o = new Object;
    o->set("attached", t.attached);
    o->set("fresh", t.fresh);
    o->set("ageSec", t.ageSec);
    o->set("sinceRenewedSec", t.sinceRenewedSec);
    return o;
}

template <class T, class F>
Array::Ptr listOf(const std::vector<T>& items, F toJson)
{
    Array::Ptr a = new Array;
    for (const T& item : items) a->add(toJson(item));
    return a;
}

Object::Ptr noticeCounts(const stationSnapshot& s)
{
    Object::Ptr o = new Object;
    o->set("pending", s.noticesPending);
    o->set("abandoned", s.noticesAbandoned);
    o->set("oldestPendingSec", s.oldestPendingSec);
    return o;
}

}  // namespace

std::string statusJson(const stationSnapshot& s)
{
    Object body;
    body.set("time", static_cast<int64_t>(s.takenAt));
    body.set("pumps", listOf(s.pumps, pumpJson));
    body.set("orders", listOf(s.orders, orderJson));
    body.set("notices", listOf(s.notices, noticeJson));
    body.set("noticeCounts", noticeCounts(s));
    body.set("controller", controllerJson(s.controller));
    body.set("pumpTable", tableJson(s.table));
    body.set("stateFileWritable", s.stateFileWritable);
    Array::Ptr errors = new Array;
    for (const std::string& line : s.errors) errors->add(line);
    body.set("errors", errors);
    body.set("warnings", listOf(s.warnings, [](const warningView& w) {
                 Object::Ptr o = new Object;
                 o->set("check", w.check);
                 o->set("text", w.text);
                 return o;
             }));
    std::ostringstream out;
    Poco::JSON::Stringifier::condense(body, out);
    // Texts from the controller (product names) come in whatever encoding it uses.
    return pcudata::str::validUtf8(out.str());
}

}  // namespace azs_apps
