// Changes since a revision on PostgreSQL. Rows carry the id of the transaction that wrote them (past
// 2^62); commit_order gives each writing transaction its position in commit order as it commits (see the
// schema's step 8), so the position to ask from next is the clock's plus one, and a transaction left open
// anywhere holds nothing back.
#include "server/store/QueryFilters.h"
#include "server/store/postgres/PgChangeFeed.h"
#include "server/store/postgres/PgFilters.h"
#include "server/store/postgres/PgIncarnation.h"
#include "server/store/postgres/PgQuery.h"
#include "server/store/postgres/PgStore.h"

#include <functional>
#include <string>

namespace orvo::server::pg {

bool PgStore::readChangeState(ChangeState& state, std::string& error) {
    std::uint64_t generation = 0;
    if (m_feed) {
        m_feed->start();
        if (m_feed->recall(state))
            return true;
        generation = m_feed->generation();
    }
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    // Asked every second by every live window while the feed is not listening: prepared once per
    // connection. One statement: the clock, the names and scope positions and the identity are of one
    // snapshot.
    const std::string sql =
        "SELECT k.position + 1, coalesce((SELECT o.position FROM commit_order o WHERE "
        "o.xid = r.names), 0), coalesce((SELECT o.position FROM commit_order o WHERE o.xid "
        "= r.scope), 0), coalesce((SELECT value::bigint FROM meta WHERE key = "
        "'tombstones_kept_from'), 0), " +
        std::string(kPgIncarnationSql) + " FROM rule_revision r, commit_clock k WHERE r.id = 1 AND k.id = 1";
    if (!conn->prepare("orvo_change_state", sql.c_str(), error))
        return false;
    PgResult got = conn->queryPrepared("orvo_change_state", PgParams(), error);
    if (!got)
        return false;
    if (got.rows() != 1) {
        error = "the revision row is missing";
        return false;
    }
    state.token = {identityOf(got.row(0).text(4)), got.row(0).integer(0)};
    state.names = got.row(0).integer(1);
    state.scope = got.row(0).integer(2);
    state.keptFrom = got.row(0).integer(3);
    if (m_feed)
        m_feed->remember(generation, state);
    return true;
}

bool PgStore::countRuleChanges(int category, std::int64_t from, std::int64_t limit, std::int64_t& count,
                               std::string& error) {
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    PgParams params;
    params.add(std::int64_t{category}).add(from).add(limit + 1);
    if (!conn->prepare(
            "orvo_count_rule_changes",
            "WITH since AS (SELECT xid FROM commit_order WHERE position >= $2) SELECT (SELECT count(*) FROM "
            "(SELECT 1 FROM rules WHERE kind = $1 AND rev IN (SELECT xid FROM since) LIMIT $3) a) + (SELECT "
            "count(*) FROM (SELECT 1 FROM row_tombstones WHERE tbl = 'rules' AND kind = $1 AND rev IN "
            "(SELECT xid FROM since) LIMIT $3) b)",
            error))
        return false;
    PgResult got = conn->queryPrepared("orvo_count_rule_changes", params, error);
    if (!got)
        return false;
    count = got.row(0).integer(0);
    return true;
}

StreamEnd PgStore::streamLeftRules(const RuleQuery& query, ReplyWriter& reply, std::string& error) {
    const std::int64_t category = query.category;
    // Rules written since the revision, and rules gone since (by their old kind and customer), of the
    // customers the operator may see; less those the query selects now, each looked up by its serial (a
    // set difference would read the whole kind the query selects).
    PgQuery q("SELECT s.serial FROM (SELECT r.lsh AS serial FROM rules r JOIN customers c ON c.khh = r.khh "
              "WHERE r.kind = ");
    q.value(category).sql(kRevChangedSince).value(query.changedFrom).sql(")");
    filterPermitted(q, *query.op);
    q.sql(" UNION SELECT t.serial FROM row_tombstones t JOIN customers c ON c.khh = t.khh "
          "WHERE t.tbl = 'rules' AND t.kind = ")
        .value(category)
        .sql(" AND t.rev IN (SELECT o.xid FROM commit_order o WHERE o.position >= ")
        .value(query.changedFrom)
        .sql(")");
    filterPermitted(q, *query.op);
    q.sql(") s WHERE NOT EXISTS (SELECT 1 FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.lsh = "
          "s.serial AND r.kind = ")
        .value(category);
    filterCustomers(q, *query.op, *query.cond);
    filterRules(q, query);
    q.sql(") ORDER BY 1");
    // The text varies only with the shape of the permissions and conditions: prepared once per shape and
    // connection, named by its hash.
    const std::string name = "orvo_left_rules_" + std::to_string(std::hash<std::string>{}(q.text()));
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return StreamEnd::DatabaseError;
    if (!conn->prepare(name, q.text().c_str(), error))
        return StreamEnd::DatabaseError;
    bool sinkFailed = false;
    const std::int64_t rows = conn->streamPrepared(
        name, q.params(),
        [&](const PgRow& row) {
            reply.beginRow();
            reply.addInteger("797", row.integer(0));
            reply.addInteger("9103", 1);
            sinkFailed = !reply.endRow();
            return !sinkFailed;
        },
        error);
    if (sinkFailed)
        return StreamEnd::SinkFailed;
    return rows < 0 ? StreamEnd::DatabaseError : StreamEnd::Done;
}

bool PgStore::ordersChangedSince(const OrderQuery& query, std::int64_t from, bool& changed,
                                 std::string& error) {
    PgQuery q("SELECT (");
    appendOrdersChangedSince(q, query, from, " AND false",
                             " AND o.rev IN (SELECT x.xid FROM commit_order x WHERE x.position >= ",
                             " AND t.rev IN (SELECT x.xid FROM commit_order x WHERE x.position >= ", ")");
    q.sql(")::int");
    PgPool::Lease conn = m_pool.acquire(m_wait, error);
    if (!conn)
        return false;
    PgResult got = conn->query(q.text().c_str(), q.params(), error);
    if (!got)
        return false;
    changed = got.row(0).integer(0) != 0;
    return true;
}

} // namespace orvo::server::pg
