#pragma once
// The one instance of a state object that the running service cycle has installed for the whole
// process (the endpoints find it there), if any. A new cycle installs its own over the old one's;
// uninstalling takes effect only while the installation is still the latest, so the end of an old
// cycle never removes what the new one installed.
#include <cstdint>
#include <memory>
#include <mutex>

namespace azs_apps {
namespace state {

template <class T>
class installedSlot {
public:
    std::shared_ptr<T> current()
    {
        std::lock_guard<std::mutex> g(m);
        return installed;
    }
    // The installation's number, for uninstall.
    uint64_t install(std::shared_ptr<T> instance)
    {
        std::lock_guard<std::mutex> g(m);
        installed = std::move(instance);
        return ++installations;
    }
    void uninstall(uint64_t installation)
    {
        std::lock_guard<std::mutex> g(m);
        if (installation == installations) installed.reset();
    }

private:
    std::mutex m;
    std::shared_ptr<T> installed;
    uint64_t installations = 0;
};

}  // namespace state
}  // namespace azs_apps
