#include "serviceStop.h"

namespace azs_apps {
namespace upstream {
namespace serviceStop {

pcudata::pauseBreaker& breaker()
{
    static pcudata::pauseBreaker b;
    return b;
}

void begin()
{
    breaker().trip();
}

void cancel()
{
    breaker().reset();
}

bool underway()
{
    return breaker().tripped();
}

}  // namespace serviceStop
}  // namespace upstream
}  // namespace azs_apps
