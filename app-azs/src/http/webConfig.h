#pragma once
// The service's configuration file: one JSON document whose top-level objects group the keys
// ("service", "logging", "fuelweb"). Keys are named by dotted paths such as "fuelweb.ctl_port".
//
// Reading never fails: a key that is absent, or whose JSON type does not fit the one asked for,
// yields the caller's default. The type test is strict on purpose (a string "5" is not an integer,
// 1 is not a boolean), so a typo in the file shows up as the default rather than as a surprise.
#include <Poco/JSON/Object.h>

#include <cstdint>
#include <string>

namespace azs_apps {

class webConfig {
public:
    // An empty configuration: every key takes its default.
    webConfig();
    // Parses a JSON text; throws Poco::Exception when it is not one JSON object.
    static webConfig fromText(const std::string& text);
    // Reads and parses a file; throws Poco::Exception (file missing, unreadable, not JSON).
    static webConfig fromFile(const std::string& path);

    std::string getString(const std::string& key, const std::string& def) const;
    // A JSON number with an integral value that fits 32 bits (3 and 3.0).
    int32_t getInt(const std::string& key, int32_t def) const;
    // Any JSON number.
    double getDouble(const std::string& key, double def) const;
    // Only true and false.
    bool getBool(const std::string& key, bool def) const;

private:
    Poco::JSON::Object::Ptr root;

    // The value at a dotted path; empty when any step is missing or not an object.
    Poco::Dynamic::Var find(const std::string& key) const;
};

}  // namespace azs_apps
