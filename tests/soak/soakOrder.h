#pragma once
// One order of the soak, as the platform placed it and as fuelweb answered it, and the book that
// collects the orders of every customer.
#include <mutex>
#include <string>
#include <vector>

namespace soak {

// How /order ended.
enum class placement {
    refused,   // a definite answer other than the reservation
    unknown,   // no answer came, however often it was sent: the pump may or may not be reserved
    reserved,  // 200 "Заказ зарегистрирован" (post-payment: "Заказ принят (постоплата).")
};

// How /fueling ended.
enum class start {
    notSent,
    refused,
    unknown,   // no answer came: the order may or may not have been taken on
    accepted,  // 200
};

struct soakOrder {
    std::string id;
    std::string clientKey;
    int pump = 0;
    int prod = 0;
    double price = 0;   // roubles per litre
    double volume = 0;  // litres
    double summa = 0;
    std::string contract;
    std::string plan;  // what the driver meant to do
    // Post-payment: the delivery was made at the pump first, and the order pays for it.
    bool postPay = false;
    std::string extendedId;  // the delivery's transaction

    placement placed = placement::refused;
    int orderStatus = 0;
    std::string orderMsg;
    int trannum = 0;  // the reservation's transaction, or the post-paid delivery's
    start fueling = start::notSent;
    int fuelingStatus = 0;
    std::string fuelingMsg;
    int cancelsSent = 0;
    double placedAt = 0;  // seconds into the run
    std::string events;   // what the driver saw and did, for the report of a failure

    std::string apikey() const { return clientKey + ",srv,azs"; }
    std::string body() const;
    void note(const std::string& event);
};

class orderBook {
public:
    void add(const soakOrder& o);
    std::vector<soakOrder> all() const;

private:
    mutable std::mutex m;
    std::vector<soakOrder> orders;
};

}  // namespace soak
