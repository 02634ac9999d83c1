#pragma once
// What the /order tests share: an order body built from a valid one, the answer's fields, and a
// pump whose delivery waits for payment.
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "stationRig.h"

namespace ordertest {

// A valid order for pump 1: product 92 at 52.50 (the simulated station's price), 10 l, 525.00.
// Each change replaces a field by its JSON text; an empty text leaves the field out.
inline std::string orderBody(const std::vector<std::pair<std::string, std::string>>& changes = {})
{
    std::map<std::string, std::string> f = {{"id", "\"A-1\""}, {"app_id", "1"},   {"trk", "1"},
                                            {"prod", "92"},    {"price", "52.5"}, {"volume", "10"},
                                            {"summa", "525"}};
    for (const auto& c : changes) f[c.first] = c.second;
    std::string out;
    for (const auto& field : f)
        if (!field.second.empty()) out += (out.empty() ? "{\"" : ",\"") + field.first + "\":" + field.second;
    return out + "}";
}

inline Poco::JSON::Object::Ptr json(const std::string& body)
{
    Poco::JSON::Parser p;
    return p.parse(body).extract<Poco::JSON::Object::Ptr>();
}

// Post-payment allowed, with the delivered volume's tolerances as JSON text.
inline webtest::rigOptions postpay(const std::string& underfill = "-1.0", const std::string& overfill = "0")
{
    webtest::rigOptions o;
    o.fuelweb = {
        {"ctl_postpay_allow", "true"}, {"ctl_underfill_order", underfill}, {"ctl_overfill_order", overfill}};
    return o;
}

// A delivery of product 92 (10 l unless told) that waits for payment, transaction 101, on a
// controller whose driver has the given version (1 knows no payment lock).
inline pcudata::trkState_t& unpaid(webtest::stationRig& rig, int driverVersion, int64_t volumeMl = 10000)
{
    pcudata::trkState_t& rec = rig.publish(1, 11);
    rec.trannum = 101;
    rec.presetFlags = 2;
    rec.prodCode = 92;
    rec.volume = volumeMl;
    rec.needPayFlag = 1;
    rig.controller().drvVersion = driverVersion;
    return rec;
}

}  // namespace ordertest
