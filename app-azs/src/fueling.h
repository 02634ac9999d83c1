#pragma once
// /fueling: the platform confirms an order that /order has placed on a pump, and the pump is to be
// started. The request is checked against the order's tag on the pump record and answered at once;
// the handler then keeps its thread, starts the pump and follows the delivery to the order's final
// notice (fuelingWatch). A second request for an order that is already being served is answered
// the same way and does nothing more.
#include <Poco/JSON/Object.h>
#include <Poco/Logger.h>

#include <string>

#include "exceptions.h"
#include "fuelingRun.h"
#include "jsonBody.h"
#include "master.h"
#include "servedOrders.h"

namespace azs_apps {

class fuelingWatch;

class fueling : public master {
public:
    static constexpr int START_ATTEMPTS = 5;

    explicit fueling(fuelweb& root);

    void get_fueling();
    std::string fueling_url() const;

    // Takes over an order that a process ended during (its row in the state file, its tag still
    // on the pump) and follows it to its final notice, on the calling thread, which holds the
    // order's claim. The pump is never started again.
    void resume(const state::servedOrder& o);

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
    void readRequest(httpContext& ctx, fuelingRun& run);
    void checkKeys(fuelingRun& run);
    void findPump(fuelingRun& run);
    void openSession(fuelingRun& run);
    void registerWorkplace(fuelingRun& run, Poco::JSON::Object& ans);
    void answerRepeated(httpContext& ctx, const fuelingRun& run);
    void refuse(httpContext& ctx, fuelingRun& run, const ExceptionHTTP& e);
    void keepServed(fuelingRun& run);

    // --- after the answer --------------------------------------------------------------------
    void carryOn(fuelingRun& run);
    static int32_t waitForStatus(const fuelingRun& run);
    static void decide(fuelingRun& run, int32_t status);
    bool startPump(fuelingRun& run, fuelingWatch& watch);
    bool startAttempt(fuelingRun& run, int attempt);
    bool startWentThrough(fuelingRun& run);
    static void putBack(fuelingRun& run);

    // --- an order taken over (fueling_resume.cpp) ------------------------------------------
    void takeOver(fuelingRun& run, const state::servedOrder& o);
    static void decideResumed(fuelingRun& run, int32_t status);
};

}  // namespace azs_apps
