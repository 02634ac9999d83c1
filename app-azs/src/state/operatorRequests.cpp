#include "operatorRequests.h"

namespace azs_apps {
namespace state {
namespace operatorRequests {

namespace {

operatorRequest rowOf(const sqlStatement& q)
{
    operatorRequest r;
    r.id = q.int64(0);
    r.kind = q.text(1);
    r.pump = static_cast<int>(q.int64(2));
    r.state = q.text(3);
    r.result = q.text(4);
    r.askedAt = static_cast<time_t>(q.int64(5));
    return r;
}

const char* const COLUMNS = "id, kind, pump, state, result, asked_at";

}  // namespace

int64_t ask(stateDb& db, const char* kind, int pump, time_t now)
{
    sqlStatement q(db,
                   "INSERT INTO operator_requests (kind, pump, state, asked_at) VALUES (?, ?, 'asked', ?)");
    if (!q.bind(1, std::string(kind)).bind(2, int64_t{pump}).bind(3, int64_t{now}).run()) return 0;
    return db.lastInsertId();
}

std::vector<operatorRequest> asked(stateDb& db)
{
    const std::string sql =
        std::string("SELECT ") + COLUMNS + " FROM operator_requests WHERE state = 'asked' ORDER BY id";
    sqlStatement q(db, sql.c_str());
    std::vector<operatorRequest> rows;
    while (q.next()) rows.push_back(rowOf(q));
    return rows;
}

bool answer(stateDb& db, int64_t id, const char* outcome, const std::string& result, time_t now)
{
    sqlStatement q(db,
                   "UPDATE operator_requests SET state = ?, result = ?, done_at = ? WHERE id = ? AND state = "
                   "'asked'");
    return q.bind(1, std::string(outcome)).bind(2, result).bind(3, int64_t{now}).bind(4, id).run();
}

bool find(stateDb& db, int64_t id, operatorRequest& out)
{
    const std::string sql = std::string("SELECT ") + COLUMNS + " FROM operator_requests WHERE id = ?";
    sqlStatement q(db, sql.c_str());
    if (!q.bind(1, id).next()) return false;
    out = rowOf(q);
    return true;
}

bool withdraw(stateDb& db, int64_t id, time_t now)
{
    return answer(db, id, REFUSED, "отозван: fuelweb не ответил", now);
}

}  // namespace operatorRequests
}  // namespace state
}  // namespace azs_apps
