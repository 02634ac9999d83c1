#pragma once
// What the /order tests share: an order body built from a valid one, and the answer's fields.
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace ordertest
