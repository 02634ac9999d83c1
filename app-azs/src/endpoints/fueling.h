#pragma once
// /fueling: the platform confirms an order that /order has placed on a pump, and the pump is to be
// started. The request is checked against the order's tag on the pump record and answered at once;
// the handler then keeps its thread, starts the pump and follows the delivery to the order's final
// notice (delivery). A second request for an order that is already being served is answered the
// same way and does nothing more.
#include <Poco/JSON/Object.h>
#include <Poco/Logger.h>

#include <string>

#include "delivery.h"
#include "exceptions.h"
#include "fuelingRun.h"
#include "jsonBody.h"
#include "master.h"
#include "servedOrders.h"
#include "watchedOrders.h"

namespace azs_apps {

class fueling : public master {
public:
    explicit fueling(const endpointContext& ctx);

    void get_fueling(httpContext& ctx);
    std::string fueling_url() const;

    // The raw body as one JSON value; err 42 for an empty body, 5 when it is not one JSON text.
    static jsonBody from_raw_post_data(const std::string& raw, int& err);

protected:
    // The order's fields from the body, and their check: a refusal throws ExceptionHTTP with the
    // logged text and the answer's code; run.errorText, when set, is the answer's text instead.
    static void readFields(const jsonBody& body, fuelingRun& run);
    static void checkFields(fuelingRun& run);

private:
    Poco::Logger& log;

    // --- before the answer -------------------------------------------------------------------
    static constexpr int CLAIM_LOOKS = 5;
    static constexpr int64_t CLAIM_LOOK_GAP_US = 50000;
    static std::unique_ptr<watchedOrders::claim> claimOf(const std::string& orderId);
    void readRequest(httpContext& ctx, fuelingRun& run);
    void checkKeys(fuelingRun& run);
    void findPump(fuelingRun& run);
    void openSession(fuelingRun& run);
    void registerWorkplace(fuelingRun& run, Poco::JSON::Object& ans);
    void answerRepeated(httpContext& ctx, const fuelingRun& run);
    void refuse(httpContext& ctx, fuelingRun& run, const ExceptionHTTP& e);
    void keepServed(fuelingRun& run);

    // What the order's delivery needs of this service.
    deliveryContext deliveryNeeds();
};

}  // namespace azs_apps
