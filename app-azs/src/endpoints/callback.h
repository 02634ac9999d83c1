#pragma once
// /callback/prices and /callback/config: the ordering platform asks the station to send it its
// fuel prices or its pump layout. The caller gets a bare 200 at once; then, on the same thread, the
// document is read from the controller and posted to the platform's "/callback/prices" or
// "/callback/station" until the platform answers 200 (at most 10 attempts, 2 s apart). The bare
// /callback answers 503.
#include <cstdint>
#include <string>

#include "master.h"
#include "stationDocs.h"

namespace azs_apps {

class callback : public master {
public:
    explicit callback(const endpointContext& ctx);

    void get_prices(httpContext& ctx);
    void get_config(httpContext& ctx);
    void default_response(httpContext& ctx);
    std::string url() const;

    static constexpr int PUSH_ATTEMPTS = 10;
    static constexpr int64_t PUSH_PAUSE_US = 2000000;

private:
    struct push;
    static const push PRICES;
    static const push CONFIG;

    void serve(httpContext& ctx, const push& p);

    // The document as compact JSON into out: 0, or -1 (logged) when the controller can't give it.
    int _gen_config_block(std::string& out);
    int _gen_prices_block(std::string& out);
    int _gen_block(const push& p, std::string& out);

    // The last status of the platform, or 503 (no endpoint configured), 204 (nothing to send).
    int64_t _send_config_data(const std::string& json);
    int64_t _send_prices_data(const std::string& json);
    int64_t _send_data(const push& p, const std::string& json);
    // One POST of json to url with the configured keys as its query: the platform's status, or
    // 500 (libcurl unusable), 502 (no answer).
    int64_t _send_data_block(const std::string& url, const std::string& json, const char* kind);
};

}  // namespace azs_apps
