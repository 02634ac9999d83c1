#include "durableState.h"

#include <Poco/Logger.h>

namespace azs_apps {

durableState::durableState(const settings& cfg)
{
    Poco::Logger& log = Poco::Logger::get("fuelweb/state");
    const std::string& path = cfg.statePath;
    std::string error;
    box = state::outbox::forFile(path, error);
    std::unique_ptr<state::stateDb> journalDb;
    if (box) journalDb = state::stateDb::open(path, state::stateDb::readWrite, state::stateDb::normal, error);
    if (journalDb) fuelings = state::servedOrders::open(path, error);
    if (fuelings) pumpHolds = state::pumpHolds::forFile(path, error);
    if (!box || !journalDb || !fuelings || !pumpHolds) {
        box.reset();
        fuelings.reset();
        pumpHolds = state::pumpHolds::inMemory();
        holdsInstallation = state::pumpHolds::install(pumpHolds);
        poco_error(log, "Не удалось открыть файл состояния '" + path + "': " + error +
                            ". Уведомления платформе не сохраняются, журнал заказов не ведется");
        return;
    }
    box->setTiming(cfg.noticeTiming);
    installation = state::outbox::install(box);
    fuelingsInstallation = state::servedOrders::install(fuelings);
    holdsInstallation = state::pumpHolds::install(pumpHolds);
    writer = std::make_unique<state::journalWriter>(std::move(journalDb));
    sender = std::make_unique<upstream::outboxSender>(box, cfg.platform, cfg.journalKeepDays);
    poco_information(log, "Файл состояния: '" + path + "'");
}

durableState::~durableState()
{
    sender.reset();
    if (box) state::outbox::uninstall(installation);
    if (fuelings) state::servedOrders::uninstall(fuelingsInstallation);
    state::pumpHolds::uninstall(holdsInstallation);
    writer.reset();
}

void durableState::flushJournal()
{
    if (writer) writer->flush();
}

}  // namespace azs_apps
