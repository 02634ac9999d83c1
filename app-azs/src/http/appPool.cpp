#include "appPool.h"

#include "application.h"

namespace azs_apps {

appPool::lease::lease(appPool& pool, std::unique_ptr<application> app) : pool(pool), app(std::move(app)) {}

appPool::lease::~lease()
{
    pool.giveBack(std::move(app));
}

appPool::appPool(factory make) : make(std::move(make)) {}

appPool::~appPool() = default;

appPool::lease appPool::acquire()
{
    std::unique_ptr<application> app;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!free.empty()) {
            app = std::move(free.back());
            free.pop_back();
        }
    }
    if (!app) {
        app = make();
        std::lock_guard<std::mutex> lock(mutex);
        ++made;
    }
    return lease(*this, std::move(app));
}

void appPool::giveBack(std::unique_ptr<application> app)
{
    if (!app) return;
    std::lock_guard<std::mutex> lock(mutex);
    free.push_back(std::move(app));
}

size_t appPool::created() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return made;
}

size_t appPool::idle() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return free.size();
}

}  // namespace azs_apps
