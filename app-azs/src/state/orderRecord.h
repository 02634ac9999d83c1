#pragma once
// One order as the station keeps it once /fueling has taken it on: the fields the platform sent,
// the keys it came with, the payment code of its kind and the controller's transaction that the
// pump holds for it. The same shape serves the request while it runs, the order's row in the state
// file and the take-over of the order after a restart.
#include <cstdint>
#include <string>

namespace azs_apps {
namespace state {

struct orderRecord {
    std::string orderId;
    int32_t trk = -1;
    std::string apikey;  // "apikey" as the platform sent it
    std::string clientKey;
    std::string extendedId;
    int32_t appId = -1;
    int32_t prod = -1;
    double price = 0.0;
    double volume = 0.0;
    double summa = 0.0;
    std::string contract;
    int32_t pmt = -1;     // payment code of the contract
    int32_t trannum = 0;  // the reservation's transaction on the pump; 0: not known
};

}  // namespace state
}  // namespace azs_apps
