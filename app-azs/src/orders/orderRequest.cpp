#include "orderRequest.h"

#include <cmath>

namespace azs_apps {

double roundTo(double x, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    const double scaled = x * scale;
    double whole = std::round(scaled);
    const double frac = scaled - std::trunc(scaled);
    if (std::fabs(std::fabs(frac) - 0.5) < 1e-9) whole = std::trunc(scaled) + (scaled < 0 ? -1.0 : 1.0);
    return whole / scale;
}

bool amountGiven(double amount)
{
    return std::isfinite(amount) && amount > 0.0;
}

orderRequest orderRequest::read(const jsonBody& body)
{
    orderRequest r;
    r.id = body.getString("id", "");
    r.extendedId = body.getString("ExtendedId", "");
    r.app_id = body.getInt("app_id", -1);
    r.trk = body.getInt("trk", -1);
    r.prod = body.getInt("prod", -1);
    r.price = roundTo(body.getDouble("price", 0.0), 2);
    r.volume = roundTo(body.getDouble("volume", 0.0), 3);
    r.summa = roundTo(body.getDouble("summa", 0.0), 2);
    r.contract = body.getString("contract", "");
    r.postPay = body.getBool("PostPay", false) || !r.extendedId.empty();
    return r;
}

}  // namespace azs_apps
