#include "fuelwebctl.h"

#include <Poco/Exception.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "durableState.h"
#include "fuelgateVersion.h"
#include "fuelwebctl_pumps.h"
#include "journal.h"
#include "outbox.h"
#include "settings.h"
#include "stateDb.h"
#include "timeSource.h"
#include "webConfig.h"

namespace azs_apps {

namespace {

constexpr int DONE = 0;
constexpr int FAILED = 1;
constexpr int USAGE = 2;

std::string usage()
{
    return std::string(
               "Использование: fuelwebctl [-c CONFIG | --state FILE] КОМАНДА\n"
               "  pending        недоставленные платформе уведомления (завершения и отмены заказов)\n"
               "  order ID       журнал заказа ID и его уведомления\n"
               "  resend ID      отправить недоставленные уведомления заказа ID снова (сразу, с новым "
               "сроком)\n"
               "  backup FILE    согласованная копия файла состояния (можно при работающем fuelweb)\n"
               "  status         состояние ТРК, заказы на ТРК и удержания рабочего места\n"
               "  release ТРК [--force] [--wait СЕК]\n"
               "                 снять резерв или блокировку оплаты рабочего места, не нужные ни одному\n"
               "                 заказу: через работающий fuelweb (его ответ ждется СЕК секунд, по\n"
               "                 умолчанию 10); --force: сам, когда fuelweb не запущен\n"
               "Файл состояния: --state FILE, иначе \"fuelweb.state_path\" из CONFIG, иначе ") +
           settings::DEFAULT_STATE_PATH +
           "\n"
           "fuelwebctl --version | --help: версия и коммит сборки; эта справка\n";
}

// What the command line asks for.
struct request {
    std::string config;
    std::string statePath;
    std::string command;
    std::string arg;
    bool force = false;
    int waitSec = fuelwebctlPumps::ANSWER_WAIT_SEC;
};

bool parse(const std::vector<std::string>& args, request& r)
{
    std::vector<std::string> words;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "-c" || a == "--config") && i + 1 < args.size()) {
            r.config = args[++i];
        } else if (a == "--state" && i + 1 < args.size()) {
            r.statePath = args[++i];
        } else if (a == "--force") {
            r.force = true;
        } else if (a == "--wait" && i + 1 < args.size()) {
            r.waitSec = std::atoi(args[++i].c_str());
            if (r.waitSec < 1) return false;
        } else if (!a.empty() && a[0] == '-') {
            return false;
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) return false;
    r.command = words[0];
    const bool needsArg =
        r.command == "order" || r.command == "resend" || r.command == "backup" || r.command == "release";
    if (r.command != "pending" && r.command != "status" && !needsArg) return false;
    if (r.force && r.command != "release") return false;
    if (words.size() != (needsArg ? 2u : 1u)) return false;
    if (needsArg) r.arg = words[1];
    return true;
}

// Local time as "dd.mm.yyyy hh:mm:ss".
std::string timeText(time_t t)
{
    if (t <= 0) return "-";
    struct tm lt;
    localtime_r(&t, &lt);
    char buf[32];
    std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &lt);
    return buf;
}

std::string timeTextUs(int64_t us)
{
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>((us / 1000) % 1000));
    return timeText(static_cast<time_t>(us / 1000000)) + ms;
}

std::string kindText(const std::string& kind)
{
    static const std::map<std::string, std::string> names = {
        {state::journal::ADMITTED, "принят"},
        {state::journal::REFUSED, "отказ"},
        {state::journal::REPEATED, "повторный запрос"},
        {state::journal::RESERVED, "ТРК зарезервирована"},
        {state::journal::SETTLED, "постоплата принята"},
        {state::journal::FUELING, "запрос на пуск принят"},
        {state::journal::STARTED, "ТРК запущена"},
        {state::journal::START_TIMEOUT, "таймаут пуска"},
        {state::journal::RESUMED, "наблюдение восстановлено"},
        {state::journal::UNRESOLVED, "не восстановлен, нужна проверка"},
        {state::journal::VOLUME, "налив"},
        {state::journal::COMPLETED, "завершен"},
        {state::journal::CANCELLED, "отменен"},
        {state::journal::NOTICE_DELIVERED, "уведомление доставлено"},
        {state::journal::NOTICE_DEFERRED, "уведомление отложено"},
        {state::journal::NOTICE_ABANDONED, "уведомление не доставлено"},
        {state::journal::NOTICE_REQUEUED, "уведомление снова в очереди"},
        {state::journal::PUMP_TAKEN, "ТРК занята другим заказом"},
        {state::journal::HOLD_RELEASED, "удержание снято"},
    };
    auto it = names.find(kind);
    return it != names.end() ? it->second : kind;
}

std::string noticeText(const state::finalNotice& n)
{
    if (n.kind == state::noticeKind::complete) {
        char litre[32];
        std::snprintf(litre, sizeof litre, "%.2f", n.litre);
        return std::string("завершение: ") + litre + " л, транзакция " + n.extOrderId + ", " + n.extDate;
    }
    return "отмена: " + n.reason;
}

std::string stateText(const state::outboxEntry& e)
{
    if (e.state == state::outbox::DELIVERED) return "доставлено " + timeText(e.deliveredAt);
    if (e.state == state::outbox::ABANDONED) return "отправка прекращена";
    if (!e.claimedBy.empty()) return "отправляется";
    return "ожидает, следующая попытка " + timeText(e.nextAt);
}

void printEntry(std::ostream& out, const state::outboxEntry& e)
{
    out << "#" << e.id << " заказ '" << e.notice.orderId << "' " << noticeText(e.notice) << "\n"
        << "    " << stateText(e) << "; попыток " << e.attempts << ", последний ответ " << e.lastStatus
        << "; сохранено " << timeText(e.createdAt) << ", срок " << timeText(e.deadlineAt) << "\n";
}

// --- the commands ------------------------------------------------------------------------------

int pending(state::stateDb& db, std::ostream& out)
{
    std::vector<state::outboxEntry> entries = state::outbox::undelivered(db);
    if (entries.empty()) {
        out << "Недоставленных уведомлений нет\n";
        return DONE;
    }
    out << "Недоставленных уведомлений: " << entries.size() << "\n";
    for (const state::outboxEntry& e : entries) printEntry(out, e);
    return DONE;
}

int order(state::stateDb& db, const std::string& id, std::ostream& out, std::ostream& err)
{
    std::vector<state::journalRow> rows = state::journal::ofOrder(db, id);
    std::vector<state::outboxEntry> entries = state::outbox::ofOrder(db, id);
    if (rows.empty() && entries.empty()) {
        err << "Заказ '" << id << "' не найден\n";
        return FAILED;
    }
    out << "Заказ '" << id << "'\n";
    for (const state::journalRow& r : rows) {
        out << timeTextUs(r.atUs) << "  ТРК " << r.pump << "  " << kindText(r.kind);
        if (r.code != 0) out << " [" << r.code << "]";
        if (!r.text.empty()) out << "  " << r.text;
        out << "\n";
    }
    if (entries.empty()) return DONE;
    out << "Уведомления платформе:\n";
    for (const state::outboxEntry& e : entries) printEntry(out, e);
    return DONE;
}

int resend(state::stateDb& db, const std::string& id, time_t keepSec, std::ostream& out, std::ostream& err)
{
    const time_t now = pcudata::timeSrc().now();
    int queued = state::outbox::requeue(db, id, now, now + keepSec);
    if (queued < 0) {
        err << "Ошибка записи в файл состояния: " << db.errorText() << "\n";
        return FAILED;
    }
    if (queued == 0) {
        err << "У заказа '" << id << "' нет недоставленных уведомлений\n";
        return FAILED;
    }
    state::journalRow row;
    row.atUs = pcudata::timeSrc().nowUs();
    row.orderId = id;
    row.kind = state::journal::NOTICE_REQUEUED;
    row.text = "fuelwebctl resend";
    state::journal::insert(db, row);
    out << "Уведомлений поставлено в очередь: " << queued
        << " (fuelweb отправит их в течение минуты; если он не запущен — при запуске)\n";
    return DONE;
}

// The copy holds what the state file holds (the platform's keys in the notices' addresses): it is
// made readable by its owner alone before a byte is written, and when root makes it, owned like
// the state file, so that the service's user can use the copy as its own again. SQLite gives its
// journal of the copy the same mode and owner.
bool prepareCopy(const std::string& source, const std::string& target, std::string& error)
{
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = ::fchmod(fd, 0600) == 0;
    struct stat st {};
    if (ok && ::geteuid() == 0 && ::stat(source.c_str(), &st) == 0)
        ok = ::fchown(fd, st.st_uid, st.st_gid) == 0;
    if (!ok) error = std::strerror(errno);
    ::close(fd);
    return ok;
}

int backup(state::stateDb& db, const std::string& source, const std::string& target, std::ostream& out,
           std::ostream& err)
{
    std::string error;
    if (!prepareCopy(source, target, error)) {
        err << "Не удалось записать копию '" << target << "': " << error << "\n";
        return FAILED;
    }
    sqlite3* copy = nullptr;
    int rc = sqlite3_open_v2(target.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_backup* b = sqlite3_backup_init(copy, "main", db.handle(), "main");
        if (b != nullptr) {
            // Whole file in one step: a copy of one moment, even while fuelweb writes.
            sqlite3_backup_step(b, -1);
            sqlite3_backup_finish(b);
        }
        rc = sqlite3_errcode(copy);
    }
    if (rc != SQLITE_OK) {
        err << "Не удалось записать копию '" << target
            << "': " << (copy != nullptr ? sqlite3_errmsg(copy) : sqlite3_errstr(rc)) << "\n";
        sqlite3_close_v2(copy);
        return FAILED;
    }
    sqlite3_close_v2(copy);
    out << "Копия файла состояния записана: " << target << "\n";
    return DONE;
}

}  // namespace

int fuelwebctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            out << usage();
            return DONE;
        }
        if (a == "--version") {
            out << "fuelwebctl " << fuelgateVersionLine() << "\n";
            return DONE;
        }
    }
    request r;
    if (!parse(args, r)) {
        err << usage();
        return USAGE;
    }
    // The service's settings, read as the service reads them (all defaults without a file).
    settings cfg = settings::read(webConfig());
    if (!r.config.empty()) {
        try {
            cfg = settings::read(webConfig::fromFile(r.config));
        } catch (const Poco::Exception& e) {
            err << "Не удалось прочитать конфигурацию '" << r.config << "': " << e.displayText() << "\n";
            return FAILED;
        } catch (const std::exception& e) {
            err << "Не удалось прочитать конфигурацию '" << r.config << "': " << e.what() << "\n";
            return FAILED;
        }
    }
    const std::string path = r.statePath.empty() ? cfg.statePath : r.statePath;

    // Only resend and release write; the others read the file as it is, never creating one.
    const bool writes = r.command == "resend" || r.command == "release";
    std::string error;
    std::unique_ptr<state::stateDb> db = state::stateDb::open(
        path, writes ? state::stateDb::update : state::stateDb::readOnly, state::stateDb::full, error);
    if (r.command == "status") {
        if (!db) err << "Файл состояния '" << path << "' не открыт: " << error << "\n";
        return fuelwebctlPumps::status(cfg, db.get(), out, err);
    }
    if (!db) {
        err << "Не удалось открыть файл состояния '" << path << "': " << error << "\n";
        return FAILED;
    }
    if (r.command == "pending") return pending(*db, out);
    if (r.command == "order") return order(*db, r.arg, out, err);
    if (r.command == "resend") return resend(*db, r.arg, cfg.noticeTiming.keepSec, out, err);
    if (r.command == "release")
        return fuelwebctlPumps::release(cfg, *db, std::atoi(r.arg.c_str()), r.force, r.waitSec, out, err);
    return backup(*db, path, r.arg, out, err);
}

}  // namespace azs_apps
