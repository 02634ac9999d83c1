#pragma once
// /order: the platform places an order for fuel on a pump. The keys and the order's fields are
// checked and the pump's record decides whether the pump can take it; then the controller's price
// is compared with the order's, and the pump is reserved for the order (it is started later by
// /fueling), or, when it waits for payment of a delivery that the order names, that payment is
// locked for the order (post-payment). Everything the platform learns travels in the answer.
#include <Poco/JSON/Object.h>
#include <Poco/Logger.h>

#include <cstdint>
#include <memory>
#include <string>

#include "apiKeys.h"
#include "cntlMsgResult.h"
#include "exceptions.h"
#include "jsonBody.h"
#include "master.h"
#include "orderAdmission.h"
#include "orderRequest.h"
#include "pumpHolds.h"
#include "trkState.h"

namespace azs_apps {

// Logger of the order endpoint.
inline constexpr char _lm[] = "fuelweb/order";

class order : public master {
public:
    explicit order(const endpointContext& ctx);

    void get_order(httpContext& ctx);

private:
    // One request on its way through the handler.
    struct run {
        httpContext* ctx = nullptr;
        Poco::JSON::Object ans;
        orderRequest req;
        apiKeys keys;
        pcudata::trkState_t* rec = nullptr;
        std::unique_ptr<pcudata::pcuControl> session;
        pcudata::cntlMsgResult res;  // the last controller answer
        int err = 0;                 // the session's error number of the last command
        int pmt = 0;                 // payment code of the order's kind
        bool journaled = false;      // the caller's keys passed: the order's decisions are journaled
    };

    Poco::Logger& log;

    // --- checks of the request, in their order ----------------------------------------------
    void checkBody(int parseErr, const jsonBody& body);
    void checkFields(const orderRequest& req, const std::string& clientKey, std::string& logText);
    orderAdmission admission();
    bool repeated(run& r);
    void answerRepeated(run& r);

    // --- placement with the controller -----------------------------------------------------
    void place(run& r, bool settlement);
    bool openSession(run& r);
    bool registerWorkplace(run& r);
    bool checkPrice(run& r);
    void roadChanged(run& r, bool settlement);

    // Post-payment: the order pays the pump's finished delivery (order_roads.cpp).
    void settle(run& r);
    void lockPayment(run& r, int& locked);
    bool releasePayment(run& r);
    void tagForSettlement(run& r);

    // Reservation: the pump is held for the order until /fueling starts it (order_roads.cpp).
    void reserve(run& r);
    void waitForPump(const run& r, int32_t before);
    bool tagReserved(run& r, int32_t& trannum);
    bool reservedForUs(const run& r, int32_t trannum);
    bool releaseReservation(run& r, int32_t trannum);
    void releaseUnanswered(run& r, int32_t before, state::holdIntent& intent);

    // --- the holds of our workplace on the pump --------------------------------------------
    static state::pumpHold holdFor(const run& r, state::holdKind kind, int32_t trannum);
    void busyWithAnother(run& r, const char* text, int code);
    // The integer value of the reply's first non-empty element of that name; 0 when there is none.
    // False when the value is not a number.
    static bool numberOf(const pcudata::cntlMsgResult& res, const std::string& name, int32_t& out);

    // --- answers ---------------------------------------------------------------------------
    void refuse(run& r, const ExceptionHTTP& e, const std::string& logText);
    void answerAtPump(run& r, const std::string& text, int code);
    void controllerFailure(run& r, const std::string& text, const char* command, int code);
    void finish(run& r, int code);
    // A row of the order's journal (when the caller's keys passed).
    void journal(const run& r, const char* kind, int64_t code, const std::string& text);
};

}  // namespace azs_apps
