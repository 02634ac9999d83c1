#pragma once
// Whether a pump's record still carries an order: the order's tag and, once known, its
// transaction. Every step after the reservation asks this before it reads or acts on the pump for
// the order, since the pump may have moved on meanwhile (reset at the pump and reserved by another
// order, taken by a till, started for a delivery at the pump itself).
//
// Only the web side writes a tag, so another order's tag is final at once. The transaction comes
// from the monitor daemon, and a line it published late may show the one before for a moment: a
// transaction that differs under the order's own tag is looked at again a second later.
#include <cstdint>
#include <string>

#include "trkState.h"

namespace azs_apps {

// trannum (and alt when given): transactions of the order; 0 when not known, and then the tag
// alone decides.
bool carriesOrder(const pcudata::trkState_t* rec, const std::string& orderId, int32_t trannum,
                  int32_t alt = 0);
// As carriesOrder, with the second look (through the time source) for a transaction that differs.
bool stillCarries(const pcudata::trkState_t* rec, const std::string& orderId, int32_t trannum,
                  int32_t alt = 0);

}  // namespace azs_apps
