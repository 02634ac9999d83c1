#include "apiKeys.h"

#include <vector>

#include "split.h"

namespace azs_apps {

apiKeys apiKeys::parse(const std::string& apikey, layout l)
{
    std::vector<std::string> parts = pcudata::split(apikey, ',');
    auto part = [&](size_t i) { return i < parts.size() ? parts[i] : std::string(); };
    apiKeys keys;
    size_t first = 0;
    if (l == withClient) keys.client = part(first++);
    keys.server = part(first++);
    keys.station = part(first);
    return keys;
}

apiKeys::verdict apiKeys::check(layout l, const std::string& serverKey, const std::string& stationKey) const
{
    if (l == withClient && client.empty()) return badClient;
    if (server.empty() || !sameKey(server, serverKey)) return badServer;
    if (station.empty() || !sameKey(station, stationKey)) return badStation;
    return ok;
}

bool sameKey(const std::string& given, const std::string& expected)
{
    // Every byte of the given key is looked at whatever the lengths, so the time depends only on
    // the length of what the caller sent.
    unsigned char diff = given.size() == expected.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) {
        unsigned char e = expected.empty() ? 0 : static_cast<unsigned char>(expected[i % expected.size()]);
        diff |= static_cast<unsigned char>(given[i]) ^ e;
    }
    return diff == 0 && !expected.empty();
}

}  // namespace azs_apps
