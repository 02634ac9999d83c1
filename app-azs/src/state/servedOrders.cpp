#include "servedOrders.h"

#include "installedSlot.h"

namespace azs_apps {
namespace state {

namespace {

installedSlot<servedOrders> slot;

const char* const COLUMNS =
    "id, order_id, pump, apikey, client_key, ext_id, app_id, prod, price, volume, summa, contract, pmt, "
    "trannum, stage, end_kind, end_apikey, reason, ext_order_id, ext_date, litre, created_at";

servedOrder rowOf(const sqlStatement& q)
{
    servedOrder o;
    o.id = q.int64(0);
    o.orderId = q.text(1);
    o.trk = static_cast<int>(q.int64(2));
    o.apikey = q.text(3);
    o.clientKey = q.text(4);
    o.extendedId = q.text(5);
    o.appId = static_cast<int>(q.int64(6));
    o.prod = static_cast<int>(q.int64(7));
    o.price = q.real(8);
    o.volume = q.real(9);
    o.summa = q.real(10);
    o.contract = q.text(11);
    o.pmt = static_cast<int>(q.int64(12));
    o.trannum = static_cast<int>(q.int64(13));
    o.stage = q.text(14);
    const std::string kind = q.text(15);
    o.endDecided = !kind.empty();
    o.end.kind = kind == kindName(noticeKind::complete) ? noticeKind::complete : noticeKind::cancel;
    o.end.orderId = o.orderId;
    o.end.apikey = q.text(16);
    o.end.reason = q.text(17);
    o.end.extOrderId = q.text(18);
    o.end.extDate = q.text(19);
    o.end.litre = q.real(20);
    o.createdAt = static_cast<time_t>(q.int64(21));
    return o;
}

std::vector<servedOrder> readUnfinished(stateDb& db, bool& failed)
{
    std::string sql = std::string("SELECT ") + COLUMNS +
                      " FROM fuelings WHERE stage IN ('serving', 'completing', 'cancelling') ORDER BY id";
    sqlStatement q(db, sql.c_str());
    std::vector<servedOrder> rows;
    while (q.next()) rows.push_back(rowOf(q));
    failed = q.failed() || !q.ok();
    return rows;
}

}  // namespace

std::shared_ptr<servedOrders> servedOrders::open(const std::string& path, std::string& error)
{
    std::unique_ptr<stateDb> db = stateDb::open(path, stateDb::readWrite, stateDb::full, error);
    if (!db) return nullptr;
    return std::make_shared<servedOrders>(std::move(db));
}

servedOrders::servedOrders(std::unique_ptr<stateDb> db)
    : db(std::move(db)), log(Poco::Logger::get("fuelweb/state"))
{
}

std::shared_ptr<servedOrders> servedOrders::current()
{
    return slot.current();
}

uint64_t servedOrders::install(std::shared_ptr<servedOrders> rows)
{
    return slot.install(std::move(rows));
}

void servedOrders::uninstall(uint64_t installation)
{
    slot.uninstall(installation);
}

bool servedOrders::write(const char* what, int64_t id, const std::function<bool()>& statement)
{
    if (statement()) return true;
    poco_error(log, std::string("Ошибка записи в файл состояния '") + db->path() + "' (" + what +
                        ", заправка " + std::to_string(id) + "): " + db->errorText());
    return false;
}

int64_t servedOrders::begin(const servedOrder& o, time_t now)
{
    std::lock_guard<std::mutex> g(m);
    int64_t id = 0;
    write("начало заправки", 0, [&] {
        sqlStatement q(
            *db,
            "INSERT INTO fuelings (order_id, pump, apikey, client_key, ext_id, app_id, prod, price, "
            "volume, summa, contract, pmt, trannum, stage, created_at) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'serving', ?)");
        q.bind(1, o.orderId).bind(2, int64_t{o.trk}).bind(3, o.apikey).bind(4, o.clientKey);
        q.bind(5, o.extendedId).bind(6, int64_t{o.appId}).bind(7, int64_t{o.prod}).bind(8, o.price);
        q.bind(9, o.volume).bind(10, o.summa).bind(11, o.contract).bind(12, int64_t{o.pmt});
        q.bind(13, int64_t{o.trannum}).bind(14, int64_t{now});
        if (!q.run()) return false;
        id = db->lastInsertId();
        return true;
    });
    return id;
}

bool servedOrders::decide(int64_t id, const finalNotice& end)
{
    std::lock_guard<std::mutex> g(m);
    const bool completion = end.kind == noticeKind::complete;
    return write("решение по заказу", id, [&] {
        sqlStatement q(
            *db,
            "UPDATE fuelings SET stage = ?, end_kind = ?, end_apikey = ?, reason = ?, ext_order_id = ?, "
            "ext_date = ?, litre = ? WHERE id = ? AND stage IN ('serving', 'completing', 'cancelling')");
        q.bind(1, std::string(completion ? COMPLETING : CANCELLING)).bind(2, std::string(kindName(end.kind)));
        q.bind(3, end.apikey).bind(4, end.reason).bind(5, end.extOrderId).bind(6, end.extDate);
        return q.bind(7, end.litre).bind(8, id).run();
    });
}

bool servedOrders::close(int64_t id, const char* stage, time_t now)
{
    std::lock_guard<std::mutex> g(m);
    return write("окончание заправки", id, [&] {
        sqlStatement q(*db, "UPDATE fuelings SET stage = ?, ended_at = ? WHERE id = ?");
        return q.bind(1, std::string(stage)).bind(2, int64_t{now}).bind(3, id).run();
    });
}

std::vector<servedOrder> servedOrders::unfinished()
{
    std::lock_guard<std::mutex> g(m);
    bool failed = false;
    std::vector<servedOrder> rows = readUnfinished(*db, failed);
    if (failed) {
        poco_error(log, "Ошибка чтения файла состояния '" + db->path() + "' (заправки): " + db->errorText());
    }
    return rows;
}

std::vector<servedOrder> servedOrders::unfinishedIn(stateDb& db)
{
    bool failed = false;
    return readUnfinished(db, failed);
}

bool servedOrders::noticeStored(const std::string& orderId, time_t since)
{
    std::lock_guard<std::mutex> g(m);
    sqlStatement q(*db, "SELECT 1 FROM outbox WHERE order_id = ? AND created_at >= ? LIMIT 1");
    return q.bind(1, orderId).bind(2, int64_t{since}).next();
}

}  // namespace state
}  // namespace azs_apps
