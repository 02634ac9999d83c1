#pragma once
// The station's counters and their Prometheus text (exposition format 0.0.4), for the operator
// listener's /metrics.
//
// Counting sits on the request path (every HTTP request, every controller command, every notice),
// so an increment is one relaxed atomic add on a cell chosen by plain indexing: no lock, no
// allocation, no string built. Label sets are bounded by construction: route, notice kind and
// controller command names are interned once into small fixed tables (a name beyond a table's
// room counts under "other"), codes index fixed arrays. The gauges are not kept here: the caller
// reads them at the moment of the scrape and hands them to render().
#include <cstdint>
#include <map>
#include <string>

namespace stationMetrics {

// What the operator listener knows at the moment of a scrape; the counters live in here.
struct gauges {
    int noticesPending = 0;
    int noticesAbandoned = 0;
    double noticeOldestPendingSeconds = 0;  // 0 when nothing is pending
    bool controllerUp = false;
    double pumpTableAgeSeconds = 0;
    std::map<int, int> pumpsByStatus;  // status code -> configured pumps showing it
    int watches = 0;                   // orders being watched
};

// Prometheus text exposition format 0.0.4: every counter, the gauges above, the process metrics.
std::string render(const gauges& g);

// --- orders ---------------------------------------------------------------------------------
// Why an order was cancelled, as a small fixed set derived from the reasons sent to the platform.
enum class cancelClass {
    timeout,      // the nozzle was not lifted in time
    reset,        // the pump went back to idle (or moved on to another delivery)
    zeroVolume,   // the pump was lifted and hung up without fuel
    startFailed,  // the controller did not start the pump (or refused the workplace)
    link,         // the controller could not be reached when the pump was to start
    payment,      // the delivery's payment could not be taken for the order
    byOperator,   // the station's operator cancelled it
    other,
};
// The class of a cancellation reason as sent in the platform's /canceled notice.
cancelClass classifyCancel(const std::string& reason);
// Its label value ("timeout", "reset", "zero_volume", "start_failed", "link", "payment", "operator",
// "other").
const char* cancelClassName(cancelClass c);

void orderCompleted();
void orderCancelled(cancelClass c);
void orderCancelled(const std::string& reason);
// /order answered with code without placing the order.
void orderRefused(int httpCode);

// --- notices to the platform ------------------------------------------------------------------
// One attempt to send a notice: path is the notice's path below the platform's endpoint
// ("/volume", "/completed", "/callback/prices", ...); code is the HTTP status of the platform's
// answer, or 0 when no answer came (transport failure, counted as code "error").
void noticeAttempt(const std::string& path, int code);

// --- the controller's control port -------------------------------------------------------------
// A command's slot, interned from its name on the wire ("PWORK", "PSET", ...). Cheap to call
// again with a known name, but call sites keep the slot in a static.
int commandSlot(const char* name);
// One command exchange that took seconds from send to its final reply; failed: no usable reply
// came (the send or the read failed, or the reply could not be read).
void controllerCommand(int slot, double seconds, bool failed);

// --- the HTTP front ----------------------------------------------------------------------------
// A route's slot, interned from the endpoint's name ("ping", "order", ...) when its table is built.
int routeSlot(const std::string& name);
// The slot of requests that no route matched ("other").
int otherRoute();
void httpRequest(int routeSlot, int code);

// --- the log -----------------------------------------------------------------------------------
void logLinesDropped(uint64_t lines);

}  // namespace stationMetrics
