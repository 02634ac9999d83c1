#pragma once
// The log capture of the controller session's tests, and the module names they read.
#include "pocoLogCapture.h"

namespace ctltest {

// Module names; the second has a Cyrillic "с" (U+0441).
extern const char* const LOG_CTL;
extern const char* const LOG_CTL_CYR;
extern const char* const LOG_FUELING;
extern const char* const LOG_ORDER;

using testsupport::logCapture;
using testsupport::logLine;

}  // namespace ctltest
