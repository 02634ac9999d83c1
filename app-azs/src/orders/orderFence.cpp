#include "orderFence.h"

#include "timeSource.h"

namespace azs_apps {

namespace {

bool taggedWith(const pcudata::trkState_t* rec, const std::string& orderId)
{
    char tag[pcudata::TRK_TEXT_SIZE];
    pcudata::peekText(tag, rec->orderId);
    return orderId == tag;
}

}  // namespace

bool carriesOrder(const pcudata::trkState_t* rec, const std::string& orderId, int32_t trannum, int32_t alt)
{
    if (!taggedWith(rec, orderId)) return false;
    if (trannum <= 0) return true;
    const int32_t shown = pcudata::peek(rec->trannum);
    return shown == trannum || (alt > 0 && shown == alt);
}

bool stillCarries(const pcudata::trkState_t* rec, const std::string& orderId, int32_t trannum, int32_t alt)
{
    if (carriesOrder(rec, orderId, trannum, alt)) return true;
    if (!taggedWith(rec, orderId)) return false;
    pcudata::pauseUs(pcudata::SECOND_US);
    return carriesOrder(rec, orderId, trannum, alt);
}

}  // namespace azs_apps
