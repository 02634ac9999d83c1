#pragma once
// The orders whose delivery a /fueling request is following right now, for the whole process.
//
// The platform may send /fueling again for an order that is already being served (it retries
// after a time-out of its own). A second watch of the same order would start the pump a second
// time and send a second final notice, so only the request that holds an order's claim may go on
// with it. Each request has a root application object of its own, so the list can't live there:
// it is one list per process, guarded by a mutex; restart cycles of the service share it too,
// since a watch of the old cycle may still run while the new one serves requests.
#include <cstddef>
#include <string>

namespace azs_apps {

class watchedOrders {
public:
    // The claim on one order, held for a scope; given back on every way out of it.
    class claim {
    public:
        explicit claim(const std::string& orderId);
        ~claim();
        claim(const claim&) = delete;
        claim& operator=(const claim&) = delete;
        // False when another request holds the order.
        bool held() const { return taken; }

    private:
        std::string orderId;
        bool taken;
    };

    static bool isWatched(const std::string& orderId);
    // Orders being watched by the whole process right now.
    static size_t count();
};

}  // namespace azs_apps
