// The rule query on SQLite straight off the table. The customers' names are read first into a flat table,
// in the same snapshot as the rules, so the rules are read alone (no join) and in serial order.
#include "server/common/CustomerNames.h"
#include "server/store/sqlite/SqlQuery.h"
#include "server/store/sqlite/SqliteFilters.h"
#include "server/store/sqlite/SqliteRuleRows.h"
#include "server/store/sqlite/SqliteStore.h"

#include <charconv>
#include <string_view>
#include <vector>

namespace orvo::server::sqlite {
namespace {

constexpr std::int64_t kBulkMinimumRows = 10000; // below this the way the rows are found hardly matters

// The names of the customers the query may list. A rule whose customer is not here is not listed, as
// an inner join would leave it out.
bool loadCustomerNames(Db& db, const Operator& op, const Conditions& cond, CustomerNames& names,
                       std::string& error) {
    SqlQuery q("SELECT c.khh, c.name FROM customers c WHERE 1");
    filterCustomers(q, op, cond);
    Statement stmt;
    return q.prepare(db, stmt, error) && readCustomerNames(stmt, names, error);
}

// Whether the rules of the category make up a large part of the table (by the planner's statistics):
// then one pass over the table in serial order, skipping the other kinds, costs less than a seek into
// the table for every rule found through the kind's index.
bool kindIsBulk(Db& db, int category) {
    Statement stat;
    std::string ignored;
    if (!db.prepare("SELECT stat FROM sqlite_stat1 WHERE tbl = 'rules' AND stat IS NOT NULL LIMIT 1", stat,
                    ignored) ||
        stat.step() != SQLITE_ROW)
        return false; // no statistics: the planner's choice
    const std::string_view text = stat.text(0);
    std::int64_t rows = 0;
    std::from_chars(text.data(), text.data() + text.size(), rows);
    if (rows < kBulkMinimumRows)
        return false;
    // Counting stops at a quarter of the table, so the test costs little whatever the kind's size.
    Statement count;
    if (!db.prepare("SELECT count(*) FROM (SELECT 1 FROM rules WHERE kind = ? LIMIT ?)", count, ignored))
        return false;
    const std::int64_t quarter = rows / 4;
    count.bind(1, std::int64_t{category});
    count.bind(2, quarter);
    return count.step() == SQLITE_ROW && count.integer(0) >= quarter;
}

} // namespace

bool prepareRuleScan(Db& db, const RuleQuery& query, std::span<const ReplyColumn> columns, bool withKey,
                     RuleScan& scan, std::string& error) {
    const Operator& op = *query.op;
    const Conditions& cond = *query.cond;
    SqlQuery q(withKey ? "SELECT r.khh, r.lsh, r.rev" : "SELECT r.khh");
    if (!selectRuleColumns(columns, q, withKey ? 3 : 1, scan.output, error) ||
        !loadCustomerNames(db, op, cond, scan.names, error))
        return false;

    // Listing most of the table: read it in serial order ("+" keeps the planner off the kind's index).
    const bool restricted = restrictsCustomers(op, cond);
    const bool bulk = !restricted && query.changedFrom == 0 && cond.exchange.empty() &&
                      cond.variety.empty() && cond.contract.empty() && kindIsBulk(db, query.category);
    q.sql(bulk                    ? " FROM rules r WHERE +r.kind = "
          : query.changedFrom > 0 ? " FROM rules r INDEXED BY rules_kind_changes WHERE r.kind = "
                                  : " FROM rules r WHERE r.kind = ")
        .value(std::int64_t{query.category});
    if (restricted) {
        // The serials of the operator's customers' rules come from the (khh, kind) index alone; SQLite
        // keeps them sorted and reads the rules in that order, so no row is sorted or held.
        q.sql(" AND r.lsh IN (SELECT k.lsh FROM rules k WHERE k.kind = ")
            .value(std::int64_t{query.category})
            .sql(" AND k.khh IN (SELECT c.khh FROM customers c WHERE 1");
        filterCustomers(q, op, cond);
        q.sql("))");
    }
    filterRuleConditions(q, query, bulk);
    q.sql(" ORDER BY r.lsh");
    return q.prepare(db, scan.rows, error);
}

// Straight from the table: every row read and encoded afresh.
StreamEnd SqliteStore::streamRulesUncached(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                           ReplyWriter& reply, std::string& error) {
    const ReadSnapshot snapshot(m_db);
    RuleScan scan;
    if (!prepareRuleScan(m_db, query, columns, false, scan, error))
        return StreamEnd::DatabaseError;
    struct RowItems {
        ReplyWriter& reply;
        void integer(std::string_view tag, std::int64_t value) { reply.addInteger(tag, value); }
        void text(std::string_view tag, std::string_view value) { reply.addText(tag, value); }
        void wire(std::string_view tag, std::string_view value) { reply.addWire(tag, value); }
    } items{reply};
    for (;;) {
        const int rc = scan.rows.step();
        if (rc == SQLITE_DONE)
            return StreamEnd::Done;
        if (rc != SQLITE_ROW) {
            error = sqlite3_errstr(rc);
            return StreamEnd::DatabaseError;
        }
        std::string_view name;
        if (!scan.names.find(scan.rows.text(0), name))
            continue;
        reply.beginRow();
        writeRuleItems(scan.rows.handle(), scan.output, name, items);
        if (!reply.endRow())
            return StreamEnd::SinkFailed;
    }
}

StreamEnd SqliteStore::streamRules(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                   ReplyWriter& reply, std::string& error) {
    if (!fileCurrent(error))
        return StreamEnd::DatabaseError;
    return checked(m_cache && m_cache->enabled() ? streamRulesCached(query, columns, reply, error)
                                                 : streamRulesUncached(query, columns, reply, error),
                   error);
}

} // namespace orvo::server::sqlite
