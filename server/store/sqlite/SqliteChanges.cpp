// Changes since a revision on SQLite. Writes are serialised, so the revision counter is the latest
// revision any visible row has and the commit order itself: the position to ask from next is the counter
// plus one. A server learns of a
// write by another connection from the connection's data version, which changes only then; while it
// stands, the change state read last still holds and the tables are not looked at.
#include "server/store/QueryFilters.h"
#include "server/store/sqlite/SqlQuery.h"
#include "server/store/sqlite/SqliteFilters.h"
#include "server/store/sqlite/SqliteRuleRows.h"
#include "server/store/sqlite/SqliteStore.h"

namespace orvo::server::sqlite {

bool SqliteStore::readChangeState(ChangeState& state, std::string& error) {
    if (!fileCurrent(error))
        return false;
    KnownChanges& known = m_changes;
    if (known.connection != m_db.handle()) { // first use, or the file was opened anew
        known.version = -1;
        if (!m_db.prepare("PRAGMA data_version", known.dataVersion, error))
            return false;
        known.connection = m_db.handle();
    }
    // The version first: a write committed between the two reads shows as a version changed next time.
    known.dataVersion.reset();
    if (known.dataVersion.step() != SQLITE_ROW) {
        error = m_db.lastError();
        return false;
    }
    const std::int64_t version = known.dataVersion.integer(0);
    known.dataVersion.reset();
    if (version == known.version) {
        state = known.state;
        return true;
    }
    StatementCache::Lease counter = m_statements.acquire(
        m_db,
        "SELECT value, names, scope, coalesce((SELECT CAST(value AS INTEGER) FROM meta WHERE key = "
        "'tombstones_kept_from'), 0) FROM rule_revision WHERE id = 1",
        error);
    if (!counter)
        return false;
    if (counter->step() != SQLITE_ROW) {
        error = "the revision counter is missing";
        return false;
    }
    // No row can carry a revision past the counter.
    state.token = {m_identity, counter->integer(0) + 1};
    state.names = counter->integer(1);
    state.scope = counter->integer(2);
    state.keptFrom = counter->integer(3);
    known.state = state;
    known.version = version;
    return true;
}

bool SqliteStore::countRuleChanges(int category, std::int64_t from, std::int64_t limit, std::int64_t& count,
                                   std::string& error) {
    StatementCache::Lease stmt = m_statements.acquire(
        m_db,
        "SELECT (SELECT count(*) FROM (SELECT 1 FROM rules WHERE kind = ?1 AND rev >= ?2 LIMIT ?3)) + "
        "(SELECT count(*) FROM (SELECT 1 FROM row_tombstones WHERE tbl = 'rules' AND kind = ?1 AND rev >= ?2 "
        "LIMIT ?3))",
        error);
    if (!stmt)
        return false;
    stmt->bind(1, std::int64_t{category});
    stmt->bind(2, from);
    stmt->bind(3, limit + 1);
    if (stmt->step() != SQLITE_ROW) {
        error = m_db.lastError();
        return false;
    }
    count = stmt->integer(0);
    return true;
}

StreamEnd SqliteStore::streamLeftRules(const RuleQuery& query, ReplyWriter& reply, std::string& error) {
    const std::int64_t category = query.category;
    // Rules written since the revision, and rules gone since (by their old kind and customer), of the
    // customers the operator may see; less those the query selects now, each looked up by its serial.
    // Each part starts from the few rows written since the revision (the planner would otherwise walk
    // the kind in serial order, and a set difference would walk the whole kind the query selects).
    SqlQuery q("SELECT s.serial FROM (SELECT r.lsh AS serial FROM rules r INDEXED BY rules_kind_changes "
               "CROSS JOIN customers c ON c.khh = r.khh WHERE r.kind = ");
    q.value(category).sql(" AND r.rev >= ").value(query.changedFrom);
    filterPermitted(q, *query.op);
    q.sql(" UNION SELECT t.serial FROM row_tombstones t CROSS JOIN customers c ON c.khh = t.khh "
          "WHERE t.tbl = 'rules' AND t.kind = ")
        .value(category)
        .sql(" AND t.rev >= ")
        .value(query.changedFrom);
    filterPermitted(q, *query.op);
    q.sql(") s WHERE NOT EXISTS (SELECT 1 FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.lsh = "
          "s.serial AND r.kind = ")
        .value(category);
    filterCustomers(q, *query.op, *query.cond);
    filterRuleConditions(q, query, false);
    q.sql(") ORDER BY 1");
    StatementCache::Lease stmt = m_statements.acquire(m_db, q, error);
    if (!stmt)
        return StreamEnd::DatabaseError;
    return streamEachRow(*stmt, reply, error, [&reply](const Statement& row) {
        reply.addInteger("797", row.integer(0));
        reply.addInteger("9103", 1);
    });
}

bool SqliteStore::ordersChangedSince(const OrderQuery& query, std::int64_t from, bool& changed,
                                     std::string& error) {
    SqlQuery q("SELECT ");
    appendOrdersChangedSince(q, query, from, " AND 0", " AND o.rev >= ", " AND t.rev >= ", "");
    StatementCache::Lease stmt = m_statements.acquire(m_db, q, error);
    if (!stmt)
        return false;
    if (stmt->step() != SQLITE_ROW) {
        error = m_db.lastError();
        return false;
    }
    changed = stmt->integer(0) != 0;
    return true;
}

} // namespace orvo::server::sqlite
