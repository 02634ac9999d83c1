#pragma once
// The JSON body of a platform request, read as the endpoints need it.
//
// A field that is absent, or whose JSON type does not fit, takes the caller's default. The types
// are decided here once for every endpoint: an integer field takes a JSON number with an integral
// value that fits 32 bits (3 and 3.0), a real field any finite JSON number, a text field only a
// JSON string, a flag only true or false. A body that is valid JSON but not an object has no
// fields.
#include <Poco/Dynamic/Var.h>

#include <cstdint>
#include <string>

namespace azs_apps {

class jsonBody {
public:
    static constexpr int EMPTY_BODY = 42;
    static constexpr int NOT_JSON = 5;

    // Parses the whole raw body as one JSON text: 0, EMPTY_BODY or NOT_JSON.
    int parse(const std::string& raw);
    // Whether a value was parsed at all (false before parse, after a failure, and for null).
    bool present() const;
    // The parsed value as compact JSON text (for the debug log).
    std::string text() const;

    std::string getString(const std::string& name, const std::string& def) const;
    int32_t getInt(const std::string& name, int32_t def) const;
    double getDouble(const std::string& name, double def) const;
    bool getBool(const std::string& name, bool def) const;

private:
    Poco::Dynamic::Var value;

    Poco::Dynamic::Var field(const std::string& name) const;
};

}  // namespace azs_apps
