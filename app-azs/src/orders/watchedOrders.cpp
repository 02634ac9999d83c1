#include "watchedOrders.h"

#include <mutex>
#include <set>

namespace azs_apps {

namespace {

std::mutex& listMutex()
{
    static std::mutex m;
    return m;
}

std::set<std::string>& orders()
{
    static std::set<std::string> s;
    return s;
}

}  // namespace

watchedOrders::claim::claim(const std::string& orderId) : orderId(orderId)
{
    std::lock_guard<std::mutex> lock(listMutex());
    taken = orders().insert(orderId).second;
}

watchedOrders::claim::~claim()
{
    if (!taken) return;
    std::lock_guard<std::mutex> lock(listMutex());
    orders().erase(orderId);
}

bool watchedOrders::isWatched(const std::string& orderId)
{
    std::lock_guard<std::mutex> lock(listMutex());
    return orders().count(orderId) != 0;
}

size_t watchedOrders::count()
{
    std::lock_guard<std::mutex> lock(listMutex());
    return orders().size();
}

}  // namespace azs_apps
