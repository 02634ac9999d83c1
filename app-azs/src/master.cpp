#include "master.h"

#include "fuelweb.h"

namespace azs_apps {

std::shared_ptr<httpContext> master::release_context()
{
    return root.release_context();
}

httpContext& master::context()
{
    return root.context();
}

}  // namespace azs_apps
