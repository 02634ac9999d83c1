#pragma once
// /canceled: the platform cancels an order that is on a pump. The pump is found by the order's
// tag and stopped through a session of this request; the answer is a bare status (200 once the
// pump is stopped, 404 when there was nothing to stop or the stop failed). The order itself is
// settled by the /fueling request that watches it, which sees the stopped pump. Each command goes
// out only while the pump still carries the order: a pump that another order has reserved
// meanwhile is not touched.
#include <Poco/Logger.h>

#include <memory>
#include <string>

#include "master.h"
#include "trkState.h"

namespace azs_apps {

class canceled : public master {
public:
    static constexpr int STOP_TRIES = 5;

    explicit canceled(const endpointContext& ctx);

    void get_canceled(httpContext& ctx);
    std::string canceled_url() const;

private:
    struct request {
        std::string apikey;
        std::string orderId;
        std::string reason;  // accepted, not used: the watching request reports the outcome
    };

    Poco::Logger& log;

    int cancel(httpContext& ctx, const request& req, std::unique_ptr<pcudata::pcuControl>& session);
    std::string checkKeys(const std::string& apikey);
    pcudata::trkState_t* findPump(const request& req, const std::string& clientKey);
    void openSession(std::unique_ptr<pcudata::pcuControl>& session);
    // What the pump must still show for the order: its tag and the transaction of its hold (or the
    // one the pump showed when the order was found).
    struct fence {
        pcudata::trkState_t* rec;
        std::string orderId;
        int32_t trannum;
    };
    fence fenceOf(pcudata::trkState_t* rec, const std::string& orderId);
    int stopPump(pcudata::pcuControl& session, const fence& f);
    bool stillTheOrders(const fence& f, const char* step);
};

}  // namespace azs_apps
