#include "configFile.h"

#include <Poco/Exception.h>
#include <Poco/JSON/Object.h>
#include <Poco/JSON/Parser.h>
#include <Poco/JSON/Stringifier.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <mutex>
#include <set>
#include <sstream>

#include "configKeys.h"
#include "libLog.h"

namespace pcudata {

namespace {

const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
constexpr size_t VALUE_TEXT_MAX = 60;

bool isNumber(const Poco::Dynamic::Var& v)
{
    return v.isNumeric() && v.type() != typeid(bool) && v.type() != typeid(char);
}

std::string quoted(const std::string& text)
{
    std::ostringstream os;
    Poco::JSON::Stringifier::formatString(text, os);
    return os.str();
}

// True when text is a JSON value of its own. Poco's parser refuses a document that is a single
// scalar ("5", "\"x\"") with a message about its own stack; wrapped in brackets it parses, and so
// does an array.
bool isJsonValue(const std::string& text)
{
    try {
        Poco::JSON::Parser parser;
        parser.parse("[" + text + "]");
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

}  // namespace

struct configFile::document {
    std::mutex mutex;
    Poco::JSON::Object::Ptr root{new Poco::JSON::Object};
    std::set<std::string> warned;
    std::vector<std::string> pending;
    std::set<std::string> consulted;

    // The value at a dotted path; empty when a step is missing or not an object. Caller holds mutex.
    Poco::Dynamic::Var find(const std::string& key)
    {
        consulted.insert(key);
        Poco::JSON::Object::Ptr obj = root;
        size_t start = 0;
        for (;;) {
            const size_t dot = key.find('.', start);
            const std::string name = key.substr(start, dot == std::string::npos ? dot : dot - start);
            if (dot == std::string::npos) return obj->get(name);
            obj = obj->getObject(name);
            if (obj.isNull()) return Poco::Dynamic::Var();
            start = dot + 1;
        }
    }

    // Appends the leaves below obj (see leafKeys). Caller holds mutex.
    static void leaves(const Poco::JSON::Object::Ptr& obj, const std::string& prefix,
                       std::vector<std::string>& out)
    {
        std::vector<std::string> names;
        obj->getNames(names);  // sorted by name: Poco keeps no order unless asked at parse time
        for (const std::string& name : names) {
            const std::string path = prefix.empty() ? name : prefix + "." + name;
            const Poco::Dynamic::Var v = obj->get(name);
            if (v.isEmpty()) continue;
            if (v.type() == typeid(Poco::JSON::Object::Ptr) && findConfigKey(path) == nullptr)
                leaves(v.extract<Poco::JSON::Object::Ptr>(), path, out);
            else
                out.push_back(path);
        }
    }
};

// The range the table gives key, when it knows it as an integer; lo and hi stay as they are else.
void rangeOf(const std::string& key, int64_t& lo, int64_t& hi)
{
    const configKey* k = findConfigKey(key);
    if (k == nullptr || k->kind != keyKind::integer) return;
    lo = k->lo;
    hi = k->hi;
}

std::string rangeText(int64_t lo, int64_t hi)
{
    return "целое число от " + std::to_string(lo) + " до " + std::to_string(hi);
}

configFile::configFile() : doc(std::make_shared<document>()) {}

configFile::status configFile::parse(const std::string& text, configFile& cfg, std::string& reason)
{
    cfg = configFile();
    std::string body = text.compare(0, 3, BYTE_ORDER_MARK) == 0 ? text.substr(3) : text;
    const size_t first = body.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        reason = "пустой документ";
        return notJson;
    }
    if (body[first] != '{' && isJsonValue(body)) {
        reason = "документ не является объектом JSON";
        return notObject;
    }
    try {
        Poco::JSON::Parser parser;
        const Poco::Dynamic::Var value = parser.parse(body);
        if (value.type() != typeid(Poco::JSON::Object::Ptr)) {
            reason = "документ не является объектом JSON";
            return notObject;
        }
        cfg.doc->root = value.extract<Poco::JSON::Object::Ptr>();
        return ok;
    } catch (const Poco::Exception& e) {
        reason = "ошибка в JSON: " + e.displayText();
    } catch (const std::exception& e) {
        reason = std::string("ошибка в JSON: ") + e.what();
    }
    return notJson;
}

configFile::status configFile::load(const std::string& path, configFile& cfg, std::string& reason)
{
    cfg = configFile();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reason = errnoText(errno);
        return unreadable;
    }
    std::string text;
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    const int e = errno;
    ::close(fd);
    // A directory opens but does not read (EISDIR).
    if (n < 0) {
        reason = errnoText(e);
        return unreadable;
    }
    return parse(text, cfg, reason);
}

bool configFile::has(const std::string& key) const
{
    std::lock_guard<std::mutex> lock(doc->mutex);
    return !doc->find(key).isEmpty();
}

bool configFile::readString(const std::string& key, std::string& out) const
{
    std::lock_guard<std::mutex> lock(doc->mutex);
    const Poco::Dynamic::Var v = doc->find(key);
    if (!v.isString()) return false;
    out = v.extract<std::string>();
    return true;
}

bool configFile::readInt(const std::string& key, int64_t lo, int64_t hi, int64_t& out) const
{
    std::lock_guard<std::mutex> lock(doc->mutex);
    const Poco::Dynamic::Var v = doc->find(key);
    if (!isNumber(v)) return false;
    // Through double: a huge unsigned value would make an integer conversion throw. Every bound a
    // caller uses is far below 2^53, where doubles still hold each integer exactly.
    const double d = v.convert<double>();
    if (!std::isfinite(d) || d != std::trunc(d)) return false;
    if (d < static_cast<double>(lo) || d > static_cast<double>(hi)) return false;
    out = static_cast<int64_t>(d);
    return true;
}

std::string configFile::valueText(const std::string& key) const
{
    std::lock_guard<std::mutex> lock(doc->mutex);
    std::ostringstream os;
    Poco::JSON::Stringifier::stringify(doc->find(key), os);
    std::string text = os.str();
    if (text.size() > VALUE_TEXT_MAX) text = text.substr(0, VALUE_TEXT_MAX) + "...";
    return text;
}

std::vector<std::string> configFile::newWarnings() const
{
    std::lock_guard<std::mutex> lock(doc->mutex);
    std::vector<std::string> out;
    out.swap(doc->pending);
    return out;
}

// A present value that does not fit: the default, and a warning the first time for this key.
template <typename T>
T configFile::fallBack(const std::string& key, const std::string& expected, const T& def,
                       const std::string& defText) const
{
    const std::string value = valueText(key);
    std::lock_guard<std::mutex> lock(doc->mutex);
    if (doc->warned.insert(key).second)
        doc->pending.push_back("Ключ конфигурации \"" + key + "\" = " + value + " не подходит (ожидается " +
                               expected + "): взято значение по умолчанию " + defText);
    return def;
}

std::string configFile::getString(const std::string& key, const std::string& def) const
{
    std::string v;
    if (!has(key)) return def;
    if (readString(key, v)) return v;
    return fallBack(key, "строка", def, quoted(def));
}

int32_t configFile::getInt(const std::string& key, int32_t def) const
{
    return getIntIn(key, def, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
}

int32_t configFile::getIntIn(const std::string& key, int32_t def, int64_t lo, int64_t hi) const
{
    int64_t v = 0;
    if (!has(key)) return def;
    if (readInt(key, lo, hi, v)) return static_cast<int32_t>(v);
    return fallBack(key, rangeText(lo, hi), def, std::to_string(def));
}

int32_t configFile::getRanged(const std::string& key, int32_t def) const
{
    int64_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
    rangeOf(key, lo, hi);
    return getIntIn(key, def, lo, hi);
}

double configFile::getDouble(const std::string& key, double def) const
{
    {
        std::lock_guard<std::mutex> lock(doc->mutex);
        const Poco::Dynamic::Var v = doc->find(key);
        if (v.isEmpty()) return def;
        if (isNumber(v)) return v.convert<double>();
    }
    std::ostringstream defText;
    defText << def;
    return fallBack(key, "число", def, defText.str());
}

bool configFile::getBool(const std::string& key, bool def) const
{
    {
        std::lock_guard<std::mutex> lock(doc->mutex);
        const Poco::Dynamic::Var v = doc->find(key);
        if (v.isEmpty()) return def;
        if (v.type() == typeid(bool)) return v.extract<bool>();
    }
    return fallBack(key, "true или false", def, def ? "true" : "false");
}

uint32_t configFile::getPort(const std::string& key, uint32_t def) const
{
    int64_t v = 0;
    if (!has(key)) return def;
    if (readInt(key, 1, 65535, v)) return static_cast<uint32_t>(v);
    return fallBack(key, "номер порта от 1 до 65535", def, std::to_string(def));
}

configFile::fit configFile::fitOf(const configKey& k) const
{
    std::string text;
    int64_t v = 0;
    switch (k.kind) {
        case keyKind::text:
            return readString(k.name, text) ? fits : wrongType;
        case keyKind::nonEmptyText:
            if (!readString(k.name, text)) return wrongType;
            return text.empty() ? outOfRange : fits;
        case keyKind::integer: {
            if (readInt(k.name, k.lo, k.hi, v)) return fits;
            // An integral number outside the range is out of range; anything else the wrong type.
            std::lock_guard<std::mutex> lock(doc->mutex);
            const Poco::Dynamic::Var value = doc->find(k.name);
            if (!isNumber(value)) return wrongType;
            const double d = value.convert<double>();
            return std::isfinite(d) && d == std::trunc(d) ? outOfRange : wrongType;
        }
        case keyKind::number:
        case keyKind::boolean: {
            std::lock_guard<std::mutex> lock(doc->mutex);
            const Poco::Dynamic::Var value = doc->find(k.name);
            const bool ok = k.kind == keyKind::number ? isNumber(value) : value.type() == typeid(bool);
            return ok ? fits : wrongType;
        }
    }
    return wrongType;
}

std::vector<std::string> configFile::leafKeys() const
{
    std::lock_guard<std::mutex> lock(doc->mutex);
    std::vector<std::string> out;
    document::leaves(doc->root, "", out);
    return out;
}

std::vector<std::string> configFile::consultedKeys() const
{
    std::lock_guard<std::mutex> lock(doc->mutex);
    return std::vector<std::string>(doc->consulted.begin(), doc->consulted.end());
}

}  // namespace pcudata
