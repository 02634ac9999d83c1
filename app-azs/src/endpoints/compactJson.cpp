#include "compactJson.h"

#include <Poco/JSON/Stringifier.h>
#include <Poco/JSONString.h>

#include <sstream>
#include <typeinfo>

namespace azs_apps {

namespace {

// A string without the bytes that a JSON writer may escape (controls, quote, backslash, slash,
// DEL) is written as it is between quotes; any other goes through Poco's own escaping.
bool plain(const std::string& s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c == '"' || c == '\\' || c == '/' || c == 0x7f) return false;
    return true;
}

void appendString(std::string& out, const std::string& s)
{
    if (!plain(s)) {
        out += Poco::toJSON(s, Poco::JSON_WRAP_STRINGS);
        return;
    }
    out += '"';
    out += s;
    out += '"';
}

// As Poco's Stringifier writes a value: numbers and booleans in their text form, strings quoted
// and escaped; everything else by the Stringifier itself.
void appendValue(std::string& out, const Poco::Dynamic::Var& v)
{
    const std::type_info& type = v.type();
    if (type == typeid(std::string)) {
        appendString(out, v.extract<std::string>());
    } else if ((v.isNumeric() && type != typeid(char)) || v.isBoolean()) {
        out += v.convert<std::string>();
    } else {
        std::ostringstream text;
        Poco::JSON::Stringifier::stringify(v, text, 0, -1, Poco::JSON_WRAP_STRINGS);
        out += text.str();
    }
}

// Poco writes the members in the order getNames gives them: by name, unless the object keeps its
// insertion order.
bool inNameOrder(const Poco::JSON::Object& body)
{
    Poco::JSON::Object::NameList names;
    body.getNames(names);
    auto member = body.begin();
    for (const std::string& name : names) {
        if (member == body.end() || member->first != name) return false;
        ++member;
    }
    return true;
}

}  // namespace

std::string compactJson(const Poco::JSON::Object& body)
{
    if (body.getEscapeUnicode() || !inNameOrder(body)) {
        std::ostringstream out;
        body.stringify(out);
        return out.str();
    }
    std::string out = "{";
    for (auto member = body.begin(); member != body.end(); ++member) {
        if (member != body.begin()) out += ',';
        appendString(out, member->first);
        out += ':';
        appendValue(out, member->second);
    }
    out += '}';
    return out;
}

}  // namespace azs_apps
