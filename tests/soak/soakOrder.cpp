#include "soakOrder.h"

#include <cstdio>

#include "soakClock.h"

namespace soak {

namespace {

std::string decimals(double v, int n)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", n, v);
    return buf;
}

}  // namespace

std::string soakOrder::body() const
{
    std::string b = "{\"id\":\"" + id + "\",\"app_id\":1,\"trk\":" + std::to_string(pump) +
                    ",\"prod\":" + std::to_string(prod) + ",\"price\":" + decimals(price, 2) +
                    ",\"volume\":" + decimals(volume, 2) + ",\"summa\":" + decimals(summa, 2);
    if (!contract.empty()) b += ",\"contract\":\"" + contract + "\"";
    if (postPay) b += ",\"ExtendedId\":\"" + extendedId + "\",\"PostPay\":true";
    return b + "}";
}

void soakOrder::note(const std::string& event)
{
    events += "  " + decimals(runClock().now(), 2) + " s " + event + "\n";
}

void orderBook::add(const soakOrder& o)
{
    std::lock_guard<std::mutex> g(m);
    orders.push_back(o);
}

std::vector<soakOrder> orderBook::all() const
{
    std::lock_guard<std::mutex> g(m);
    return orders;
}

}  // namespace soak
