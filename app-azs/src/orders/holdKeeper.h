#pragma once
// The keeper of what our workplace holds on the pumps: no pump stays reserved, or its payment
// locked, for an order that nobody serves any more. One keeper runs per service cycle, on a thread
// of its own that looks once a second; its first look is made when it is built, before the cycle
// listens, so that what a process killed at the wrong moment left behind is given back first.
//
// What it gives back, each time with an error line and a journal row:
//  - a hold announced as an intent whose request has gone (killed, or ended without knowing what
//    the controller did): the reservation is released (PWORK TYP 2) or the payment lock reset
//    (WPWRK TYP 0, so that the till can take the payment) when the pump shows it as ours and does
//    not carry the order; a hold the pump does not show is simply closed. A payment lock of an
//    order whose completion was sent is never given back: the platform charges for it.
//  - a reservation whose /fueling has not come within the start timeout counted from its tag
//    ("fuelweb.order_timeout", 120 s when 0), and a post-payment tag likewise: released, untagged,
//    and cancelled towards the platform with "Отмена заказа по таймауту пуска ТРК", stored in the
//    outbox like every final notice. A tag on a pump that the controller shows idle for a while
//    (the controller lost the reservation, say after its restart) is cleared the same way.
//  - a reservation of our workplace that no hold and no tag explain, seen for a while.
// And what the operator asks through fuelwebctl (release PUMP).
//
// While the pump table is stale nothing is done: what the pumps show is not known.
#include <Poco/Logger.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "notices.h"
#include "pcuControl.h"
#include "pumpHolds.h"
#include "settings.h"
#include "stateDb.h"

namespace azs_apps {

class holdKeeper {
public:
    // An intent whose request has gone is looked at once it is this old (seconds): the pump may
    // show the reservation a little late.
    static constexpr time_t ORPHAN_GRACE_SEC = 5;
    // A tagged pump that stays idle this long, and a reservation of ours nobody explains, are ended.
    static constexpr time_t IDLE_GRACE_SEC = 10;
    static constexpr time_t DEFAULT_TIMEOUT_SEC = 120;
    static constexpr const char* START_TIMEOUT = "Отмена заказа по таймауту пуска ТРК";
    static constexpr const char* PUMP_IDLE = "Произошел сброс ТРК в исходное состояние";
    static constexpr const char* BY_OPERATOR = "Отмена заказа оператором АЗС";

    // holds: those of the cycle (never null in the service). Makes its first look, then runs.
    holdKeeper(const settings& cfg, std::shared_ptr<state::pumpHolds> holds);
    // Stops the looks; waits for the cancellations it is still sending (a stop hands them over).
    ~holdKeeper();
    holdKeeper(const holdKeeper&) = delete;
    holdKeeper& operator=(const holdKeeper&) = delete;

    // One look at every pump, on the calling thread (tests).
    void look();

private:
    pcudata::pcuControl pcu;  // settings and the pump table of this keeper
    std::shared_ptr<state::pumpHolds> holds;
    std::unique_ptr<state::stateDb> db;  // operator requests and sent notices; null without a file
    upstream::settings platform;
    std::string serverKey;
    std::string stationKey;
    Poco::Logger& log;

    struct idleSeen {
        std::string orderId;
        time_t since;
    };
    std::map<int, idleSeen> idleTags;   // tagged pumps seen idle, from when
    std::map<int, time_t> unexplained;  // reservations of ours nobody explains, from when
    struct sender {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    std::mutex senderMutex;
    std::vector<sender> senders;  // cancellations being sent

    std::mutex m;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;

    void run();
    bool attached();
    time_t startTimeout() const;

    // --- holds left by requests that have gone -------------------------------------------
    void settleOrphans(time_t now);
    void settleOrphan(const state::pumpHold& h, time_t now);
    bool pumpShows(const state::pumpHold& h);
    bool completionSent(const std::string& orderId);
    bool giveBack(const state::pumpHold& h, const char* why);

    // --- tags of orders nobody serves --------------------------------------------------------
    void lookAtTags(time_t now);
    void lookAtTag(int n, pcudata::trkState_t* rec, time_t now);
    bool expired(int n, pcudata::trkState_t* rec, const std::string& orderId, time_t now);
    void endUnserved(int n, pcudata::trkState_t* rec, const std::string& orderId, const char* reason);
    void releaseWhatIsOurs(int n, pcudata::trkState_t* rec, const std::string& orderId);

    // --- reservations of ours nobody explains --------------------------------------------------
    void lookForUnexplained(time_t now);

    // --- the operator --------------------------------------------------------------------------
    void answerOperator();
    std::string releaseForOperator(int n, bool& done);

    bool release(int n, const std::string& orderId, int typ);
    void sendCancellation(const std::string& orderId, const std::string& clientKey, const char* reason);
    void reapSenders(bool all);
};

}  // namespace azs_apps
