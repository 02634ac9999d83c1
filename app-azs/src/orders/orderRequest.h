#pragma once
// The order that the platform sends in the body of /order: its fields with their defaults, the
// money brought to whole kopecks and the volume to whole millilitres, as the controller counts
// them.
#include <cstdint>
#include <string>

#include "jsonBody.h"

namespace azs_apps {

struct orderRequest {
    std::string id;          // the platform's order id
    std::string extendedId;  // transaction of the pump's finished delivery that the order pays
    int32_t app_id = -1;     // the platform's application
    int32_t trk = -1;        // pump number
    int32_t prod = -1;       // product code
    double price = 0.0;      // roubles per litre, two decimals
    double volume = 0.0;     // litres, three decimals
    double summa = 0.0;      // roubles, two decimals
    std::string contract;    // payment kind: "Corporation", "Individual", else the default kind
    bool postPay = false;    // the order pays a finished delivery; always so with an extendedId

    static orderRequest read(const jsonBody& body);
};

// x with the given number of decimals, halves away from zero. A decimal half that binary cannot
// hold exactly (1.005 is 1.00499999...) still counts as a half.
double roundTo(double x, int decimals);

// An amount of an order (price, volume or sum) that may reach the controller: finite and above
// zero. A negative or endless amount is refused as a missing one.
bool amountGiven(double amount);

}  // namespace azs_apps
