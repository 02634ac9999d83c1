#include "serviceStatus.h"

#include "settings.h"
#include "trkState.h"
#include "watchedOrders.h"

namespace azs_apps {

serviceStatus::serviceStatus(const settings& cfg)
{
    cfg.controller.applyTo(table);
}

std::string serviceStatus::text()
{
    std::lock_guard<std::mutex> lock(m);
    // Attached on first use and kept: the monitor daemon may make the segment after the start.
    if (!attached) attached = table.shmInit() == 0;
    std::string pumps = "таблица ТРК не подключена";
    if (attached) {
        int published = 0;
        for (int n = 1; n <= pcudata::TRK_COUNT; ++n) {
            const pcudata::trkState_t* rec = table.getTrkState(n);
            if (rec != nullptr && pcudata::peek(rec->trk) == n) ++published;
        }
        pumps = "ТРК в таблице: " + std::to_string(published) +
                (table.tableFresh() ? "" : " (таблица не обновляется)");
    }
    return pumps + "; заказов в работе: " + std::to_string(watchedOrders::count());
}

}  // namespace azs_apps
