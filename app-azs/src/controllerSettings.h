#pragma once
// The controller's part of the "fuelweb" keys, read into a prototype controller session: the
// controller's address, the workplace, the payment codes (a missing code borrowed from the
// others), the post-payment permission, the order timeout, the shared table's key file and the
// delivery limits. The root application reads its prototype with it, and so does whatever
// serves orders outside a request (the take-over of orders at start-up, the keeper of the
// pumps' holds).
#include "pcuControl.h"
#include "webConfig.h"

namespace azs_apps {

void readControllerSettings(const webConfig& cfg, pcudata::pcuControl& prototype);

}  // namespace azs_apps
