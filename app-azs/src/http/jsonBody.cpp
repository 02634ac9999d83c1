#include "jsonBody.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Array.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace azs_apps {

int jsonBody::parse(const std::string& raw)
{
    value.empty();
    if (raw.empty()) return EMPTY_BODY;
    try {
        // POCO's parser takes only an object or an array at the top, so the body goes inside an
        // array of its own: a bare null, number or string is valid JSON too. The parser refuses
        // text left over after the value; "1,2" becomes two elements and is refused below.
        Poco::JSON::Parser parser;
        Poco::JSON::Array::Ptr wrapped = parser.parse("[" + raw + "\n]").extract<Poco::JSON::Array::Ptr>();
        if (wrapped->size() != 1) return NOT_JSON;
        value = wrapped->get(0);
    } catch (const Poco::Exception&) {
        value.empty();
        return NOT_JSON;
    }
    return 0;
}

bool jsonBody::present() const
{
    return !value.isEmpty();
}

std::string jsonBody::text() const
{
    if (value.isEmpty()) return "null";
    std::ostringstream out;
    Poco::JSON::Stringifier::condense(value, out);
    return out.str();
}

Poco::Dynamic::Var jsonBody::field(const std::string& name) const
{
    if (value.type() != typeid(Poco::JSON::Object::Ptr)) return Poco::Dynamic::Var();
    Poco::JSON::Object::Ptr obj = value.extract<Poco::JSON::Object::Ptr>();
    return obj->get(name);
}

std::string jsonBody::getString(const std::string& name, const std::string& def) const
{
    Poco::Dynamic::Var v = field(name);
    return v.isString() ? v.extract<std::string>() : def;
}

int32_t jsonBody::getInt(const std::string& name, int32_t def) const
{
    double d = getDouble(name, std::numeric_limits<double>::quiet_NaN());
    if (std::isnan(d) || d != std::floor(d)) return def;
    if (d < std::numeric_limits<int32_t>::min() || d > std::numeric_limits<int32_t>::max()) return def;
    return static_cast<int32_t>(d);
}

double jsonBody::getDouble(const std::string& name, double def) const
{
    Poco::Dynamic::Var v = field(name);
    if (v.isEmpty() || v.isString() || v.isBoolean() || !v.isNumeric()) return def;
    double d = v.convert<double>();
    return std::isfinite(d) ? d : def;
}

bool jsonBody::getBool(const std::string& name, bool def) const
{
    Poco::Dynamic::Var v = field(name);
    return v.isBoolean() ? v.extract<bool>() : def;
}

}  // namespace azs_apps
