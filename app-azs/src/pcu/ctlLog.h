#pragma once
// Log modules of the controller session. Operators search the logs by these names; the second is
// spelt with a Cyrillic "с" (U+0441) and must stay so, or its lines fall out of the existing log
// filters.
#include <Poco/Logger.h>

namespace pcudata {

inline Poco::Logger& ctlLog()
{
    return Poco::Logger::get("fuelweb/ctl");
}

inline Poco::Logger& ctlLogCyr()
{
    return Poco::Logger::get("fuelweb/\xD1\x81tl");
}

}  // namespace pcudata
