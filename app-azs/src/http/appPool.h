#pragma once
// Pool of root application objects. Each request being served gets an object of its own, so the
// objects (with their prototype controller session and segment attachment) are never shared
// between threads; objects are made on demand, kept when their request ends and reused by later
// ones. The pool therefore grows to the largest number of requests served at once.
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace azs_apps {

class application;

class appPool {
public:
    using factory = std::function<std::unique_ptr<application>()>;

    // An object on loan for one request; it goes back to the pool when the lease ends.
    class lease {
    public:
        lease(appPool& pool, std::unique_ptr<application> app);
        ~lease();
        lease(const lease&) = delete;
        lease& operator=(const lease&) = delete;
        application& operator*() const { return *app; }
        application* operator->() const { return app.get(); }

    private:
        appPool& pool;
        std::unique_ptr<application> app;
    };

    explicit appPool(factory make);
    ~appPool();

    // An idle object, or a new one made outside the pool's lock (a new root object reads the
    // configuration and logs its start-up report, which must not hold up other requests).
    lease acquire();

    size_t created() const;
    size_t idle() const;

private:
    factory make;
    mutable std::mutex mutex;
    std::vector<std::unique_ptr<application>> free;
    size_t made = 0;

    void giveBack(std::unique_ptr<application> app);
};

}  // namespace azs_apps
