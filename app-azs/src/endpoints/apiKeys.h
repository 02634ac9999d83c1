#pragma once
// The keys a platform request carries in its "apikey" parameter, joined by commas: client key,
// server key and station key for the order endpoints (/ping, /order, /fueling, /canceled); server
// key and station key for the station endpoints (/station, /callback). Parts after those are
// ignored; missing parts are empty.
#include <string>

namespace azs_apps {

struct apiKeys {
    enum layout { withClient, stationOnly };
    // Which check failed first; ok when the keys are accepted.
    enum verdict { ok, badClient, badServer, badStation };

    std::string client;
    std::string server;
    std::string station;

    static apiKeys parse(const std::string& apikey, layout l);

    // The client key must not be empty (withClient only); the server and station keys must be
    // non-empty and equal to the configured ones. An empty configured key never matches.
    verdict check(layout l, const std::string& serverKey, const std::string& stationKey) const;
};

// Compares two keys in a time that does not depend on where they first differ, so that a caller
// cannot find a key byte by byte from the answer times.
bool sameKey(const std::string& given, const std::string& expected);

}  // namespace azs_apps
