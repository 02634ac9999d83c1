#include "healthCheck.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Stringifier.h>

#include <sstream>

namespace azs_apps {

namespace {

std::string compact(const Poco::JSON::Object& o)
{
    std::ostringstream out;
    Poco::JSON::Stringifier::condense(o, out);
    return out.str();
}

}  // namespace

std::vector<std::string> failingChecks(const stationSnapshot& s)
{
    std::vector<std::string> failing;
    if (!s.table.attached || !s.table.fresh) failing.push_back("pump_table");
    if (!s.controller.connected) failing.push_back("controller");
    if (!s.stateFileWritable) failing.push_back("state_file");
    return failing;
}

healthAnswer healthOf(const stationSnapshot& s)
{
    const std::vector<std::string> failing = failingChecks(s);
    Poco::JSON::Object o;
    if (failing.empty()) {
        o.set("status", "ok");
        return {200, compact(o)};
    }
    Poco::JSON::Array::Ptr names = new Poco::JSON::Array;
    for (const std::string& f : failing) names->add(f);
    o.set("failing", names);
    o.set("status", "fail");
    return {503, compact(o)};
}

healthAnswer readinessOf(bool ready)
{
    Poco::JSON::Object o;
    o.set("status", ready ? "ready" : "starting");
    return {ready ? 200 : 503, compact(o)};
}

}  // namespace azs_apps
