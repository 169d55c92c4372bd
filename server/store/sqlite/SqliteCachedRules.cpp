// The rule query on SQLite through the row cache. The rows selected are listed by serial and revision
// only, off covering indexes ((kind, lsh, rev, valid_date) for a whole kind, (khh, kind, valid_date,
// rev) for some customers' rules); only rows the cache lacks at that revision are read in full, with
// their customer's name, in the listing's snapshot.
#include "server/SqlQuery.h"
#include "server/store/CachedRows.h"
#include "server/store/sqlite/SqliteFilters.h"
#include "server/store/sqlite/SqliteRuleRows.h"
#include "server/store/sqlite/SqliteStore.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <vector>

namespace orvo::server::sqlite {
namespace {

// Reads rules in full by serial: column 0 the serial, 1 the revision, 2 the customer's name, then the
// reply's columns; one JSON array of serials bound as the only parameter.
class RuleFetch {
public:
    bool prepare(Db& db, std::span<const ReplyColumn> columns, std::string& error) {
        SqlQuery q("SELECT r.lsh, r.rev, c.name");
        if (!selectRuleColumns(columns, q, 3, m_output, error))
            return false;
        q.sql(" FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.lsh IN (SELECT value FROM "
              "json_each(?))");
        return q.prepare(db, m_stmt, error);
    }

    bool fetch(ReplyWriter& reply, std::span<const std::int64_t> serials, const RowDelivery& deliver,
               std::string& error) {
        m_list.assign(1, '[');
        for (const std::int64_t serial : serials) {
            char digits[24];
            const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, serial);
            (void)ec; // an int64 always fits
            if (m_list.size() > 1)
                m_list += ',';
            m_list.append(digits, end);
        }
        m_list += ']';
        m_stmt.reset();
        m_stmt.bind(1, std::string_view(m_list));
        struct Encoder {
            ReplyWriter& reply;
            std::string& items;
            void integer(std::string_view tag, std::int64_t value) {
                ReplyWriter::encodeInteger(items, tag, value);
            }
            void text(std::string_view tag, std::string_view value) { reply.encodeText(items, tag, value); }
            void wire(std::string_view tag, std::string_view value) {
                ReplyWriter::encodeWire(items, tag, value);
            }
        } encoder{reply, m_items};
        for (;;) {
            const int rc = m_stmt.step();
            if (rc == SQLITE_DONE)
                return true;
            if (rc != SQLITE_ROW) {
                error = sqlite3_errstr(rc);
                return false;
            }
            wireName(m_stmt.text(2), m_name);
            m_items.clear();
            writeRuleItems(m_stmt.handle(), m_output, m_name, encoder);
            deliver(m_stmt.integer(0), m_stmt.integer(1), m_items);
        }
    }

private:
    Statement m_stmt;
    std::vector<OutputColumn> m_output;
    std::string m_list, m_name, m_items;
};

} // namespace

StreamEnd SqliteStore::streamRulesCached(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                         ReplyWriter& reply, std::string& error) {
    const Operator& op = *query.op;
    const Conditions& cond = *query.cond;
    RuleFetch fetch;
    if (!fetch.prepare(m_db, columns, error))
        return StreamEnd::DatabaseError;

    const ReadSnapshot snapshot(m_db);
    // A rule whose account has no customer is not listed, as a join would leave it out. The listing
    // need not look: a kept row is current only while its customer is unchanged (every write of a
    // customer changes its rules' revisions), and a row read in full is read through the join.
    SqlQuery q("SELECT r.lsh, r.rev FROM rules r WHERE r.kind = ");
    q.value(std::int64_t{query.category});
    const bool restricted = restrictsCustomers(op, cond);
    if (restricted) {
        // The customers' filter picks the accounts; their rules come from the (khh, kind) index.
        q.sql(" AND r.khh IN (SELECT c.khh FROM customers c WHERE 1");
        filterCustomers(q, op, cond);
        q.sql(")");
    }
    filterRuleConditions(q, query, false);
    // A whole kind comes off its index in serial order. Some customers' rules come customer by
    // customer: their serials and revisions alone are gathered and sorted here, at a fraction of what
    // SQLite's sorter costs.
    if (!restricted)
        q.sql(" ORDER BY r.lsh");
    Statement listing;
    if (!q.prepare(m_db, listing, error))
        return StreamEnd::DatabaseError;

    const FetchRows fetchRows = [&](std::span<const std::int64_t> serials, const RowDelivery& deliver,
                                    std::string& fetchError) {
        return fetch.fetch(reply, serials, deliver, fetchError);
    };
    std::vector<ListedRow> listed;
    if (restricted) {
        int rc = SQLITE_ROW;
        while ((rc = listing.step()) == SQLITE_ROW)
            listed.push_back({listing.integer(0), listing.integer(1)});
        if (rc != SQLITE_DONE) {
            error = sqlite3_errstr(rc);
            return StreamEnd::DatabaseError;
        }
        std::sort(listed.begin(), listed.end(),
                  [](const ListedRow& a, const ListedRow& b) { return a.serial < b.serial; });
        for (std::size_t at = 0; at < listed.size(); at += kListedBatchRows) {
            const std::size_t count = std::min(kListedBatchRows, listed.size() - at);
            const StreamEnd end = sendListedRows(*m_cache, query.category,
                                                 std::span<const ListedRow>(listed).subspan(at, count), reply,
                                                 fetchRows, error);
            if (end != StreamEnd::Done)
                return end;
        }
        return StreamEnd::Done;
    }
    listed.reserve(kListedBatchRows);
    for (;;) {
        const int rc = listing.step();
        if (rc == SQLITE_ROW) {
            listed.push_back({listing.integer(0), listing.integer(1)});
            if (listed.size() < kListedBatchRows)
                continue;
        } else if (rc != SQLITE_DONE) {
            error = sqlite3_errstr(rc);
            return StreamEnd::DatabaseError;
        }
        const StreamEnd end = sendListedRows(*m_cache, query.category, listed, reply, fetchRows, error);
        if (end != StreamEnd::Done)
            return end;
        listed.clear();
        if (rc == SQLITE_DONE)
            return StreamEnd::Done;
    }
}

} // namespace orvo::server::sqlite
