#include "durableState.h"

#include <Poco/Logger.h>

#include "fuelweb.h"

namespace azs_apps {

namespace {

constexpr int32_t DEFAULT_RESEND_SEC = 600;
constexpr int32_t DEFAULT_RESEND_DAYS = 7;
constexpr int32_t DEFAULT_KEEP_DAYS = 400;

state::outboxTiming timingOf(const webConfig& cfg)
{
    state::outboxTiming t;
    int32_t every = cfg.getInt("fuelweb.notice_resend_interval", DEFAULT_RESEND_SEC);
    int32_t days = cfg.getInt("fuelweb.notice_resend_days", DEFAULT_RESEND_DAYS);
    t.resendSec = every > 0 ? every : DEFAULT_RESEND_SEC;
    t.keepSec = static_cast<time_t>(days > 0 ? days : DEFAULT_RESEND_DAYS) * 86400;
    return t;
}

}  // namespace

durableState::durableState(const webConfig& cfg)
{
    Poco::Logger& log = Poco::Logger::get("fuelweb/state");
    const std::string path = cfg.getString("fuelweb.state_path", DEFAULT_PATH);
    std::string error;
    box = state::outbox::forFile(path, error);
    std::unique_ptr<state::stateDb> journalDb;
    if (box) journalDb = state::stateDb::open(path, state::stateDb::readWrite, state::stateDb::normal, error);
    if (journalDb) fuelings = state::servedOrders::open(path, error);
    if (!box || !journalDb || !fuelings) {
        box.reset();
        fuelings.reset();
        poco_error(log, "Не удалось открыть файл состояния '" + path + "': " + error +
                            ". Уведомления платформе не сохраняются, журнал заказов не ведется");
        return;
    }
    box->setTiming(timingOf(cfg));
    installation = state::outbox::install(box);
    fuelingsInstallation = state::servedOrders::install(fuelings);
    writer = std::make_unique<state::journalWriter>(std::move(journalDb));
    sender = std::make_unique<upstream::outboxSender>(
        box, fuelweb::upstreamOf(cfg), cfg.getInt("fuelweb.journal_keep_days", DEFAULT_KEEP_DAYS));
    poco_information(log, "Файл состояния: '" + path + "'");
}

durableState::~durableState()
{
    sender.reset();
    if (box) state::outbox::uninstall(installation);
    if (fuelings) state::servedOrders::uninstall(fuelingsInstallation);
    writer.reset();
}

void durableState::flushJournal()
{
    if (writer) writer->flush();
}

}  // namespace azs_apps
