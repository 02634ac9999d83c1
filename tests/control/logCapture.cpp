#include "logCapture.h"

namespace ctltest {

const char* const LOG_CTL = "fuelweb/ctl";
const char* const LOG_CTL_CYR = "fuelweb/\xD1\x81tl";
const char* const LOG_FUELING = "fuelweb/fueling";
const char* const LOG_ORDER = "fuelweb/order";

}  // namespace ctltest
