#include "webConfig.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Parser.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>

namespace azs_apps {

webConfig::webConfig() : root(new Poco::JSON::Object) {}

webConfig webConfig::fromText(const std::string& text)
{
    Poco::JSON::Parser parser;
    Poco::Dynamic::Var value = parser.parse(text);
    if (value.type() != typeid(Poco::JSON::Object::Ptr))
        throw Poco::DataFormatException("configuration is not a JSON object");
    webConfig cfg;
    cfg.root = value.extract<Poco::JSON::Object::Ptr>();
    return cfg;
}

webConfig webConfig::fromFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw Poco::OpenFileException("cannot read configuration file", path);
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return fromText(text.str());
    } catch (const Poco::Exception& e) {
        throw Poco::DataFormatException("configuration file " + path + ": " + e.displayText());
    }
}

Poco::Dynamic::Var webConfig::find(const std::string& key) const
{
    Poco::JSON::Object::Ptr obj = root;
    size_t start = 0;
    for (;;) {
        size_t dot = key.find('.', start);
        std::string name = key.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (dot == std::string::npos) return obj->get(name);
        obj = obj->getObject(name);
        if (obj.isNull()) return Poco::Dynamic::Var();
        start = dot + 1;
    }
}

std::string webConfig::getString(const std::string& key, const std::string& def) const
{
    Poco::Dynamic::Var v = find(key);
    return v.isString() ? v.extract<std::string>() : def;
}

int32_t webConfig::getInt(const std::string& key, int32_t def) const
{
    double d = getDouble(key, NAN);
    // Through double: a huge unsigned value would make an integer conversion throw.
    if (!std::isfinite(d) || d != std::trunc(d)) return def;
    if (d < std::numeric_limits<int32_t>::min() || d > std::numeric_limits<int32_t>::max()) return def;
    return static_cast<int32_t>(d);
}

double webConfig::getDouble(const std::string& key, double def) const
{
    Poco::Dynamic::Var v = find(key);
    if (!v.isNumeric() || v.type() == typeid(bool) || v.type() == typeid(char)) return def;
    return v.convert<double>();
}

bool webConfig::getBool(const std::string& key, bool def) const
{
    Poco::Dynamic::Var v = find(key);
    return v.type() == typeid(bool) ? v.extract<bool>() : def;
}

}  // namespace azs_apps
