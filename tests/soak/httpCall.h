#pragma once
// The platform's side of the soak's HTTP calls to fuelweb: one POST on a loopback port, its answer
// or the failure of the transfer (fuelweb killed, or not up yet).
#include <cstdint>
#include <string>

namespace soak {

struct httpResult {
    int status = -1;  // HTTP status; -1 when no answer came
    std::string body;
    std::string error;  // why no answer came

    bool answered() const { return status > 0; }
    // A member of a JSON object body, as text ("" when absent or the body is no JSON object).
    std::string field(const std::string& name) const;
};

httpResult postJson(uint16_t port, const std::string& uri, const std::string& json);
httpResult postForm(uint16_t port, const std::string& uri, const std::string& form);

}  // namespace soak
