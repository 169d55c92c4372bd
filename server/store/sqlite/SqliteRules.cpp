// The rule query on SQLite. The customers' names are read first into a flat table, in the same snapshot
// as the rules, so the rules are read alone (no join) and in serial order straight off the table.
#include "server/CustomerNames.h"
#include "server/SqlQuery.h"
#include "server/store/sqlite/SqliteFilters.h"
#include "server/store/sqlite/SqliteStore.h"

#include <charconv>
#include <string_view>
#include <vector>

namespace orvo::server::sqlite {
namespace {

// The rule fields a reply may carry; those stored as INTEGER are read as numbers and written as digits,
// with nothing to check.
constexpr std::string_view kIntegerFields[] = {
    "lsh",        "kind",          "cfzt", "mmfx",       "kpfx",       "lots",
    "filled",     "cancelled",     "pdfx", "src_mmfx",   "src_kpfx",   "src_lots",
    "src_filled", "src_cancelled", "tllx", "trig_lots1", "trig_lots2", "filled2",
    "min_order",  "single_leg",    "xzbh", "fzbh",       "xdfs"};
constexpr std::string_view kTextFields[] = {
    "khh",           "status_text",   "hydm",      "price",           "trig_price",
    "ticks_profit",  "ticks_loss",    "set_time",  "set_date",        "valid_date",
    "jys",           "jybm",          "src_order", "src_hydm",        "src_price",
    "order_no",      "deviation",     "avg_price", "off_profit_trig", "off_profit_order",
    "off_loss_trig", "off_loss_order"};

bool listed(std::span<const std::string_view> fields, std::string_view field) {
    for (std::string_view name : fields)
        if (name == field)
            return true;
    return false;
}

constexpr std::int64_t kBulkMinimumRows = 10000; // below this the way the rows are found hardly matters

// How one reply item is made from the statement's row.
struct OutputColumn {
    enum class From : unsigned char { Text, Integer, CustomerName };
    From from;
    int column;      // statement column (the customer name: the column of r.khh)
    char digits[12]; // the tag's decimal text
    std::size_t digitCount;
    std::string_view tag() const { return {digits, digitCount}; }
};

// A read snapshot over the query's statements, where the connection is not already in one.
class ReadSnapshot {
public:
    explicit ReadSnapshot(Db& db) : m_db(db) {
        std::string ignored;
        m_open = sqlite3_get_autocommit(db.handle()) != 0 && db.exec("BEGIN", ignored);
    }
    ~ReadSnapshot() {
        if (m_open) {
            std::string ignored;
            m_db.exec("COMMIT", ignored);
        }
    }
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

private:
    Db& m_db;
    bool m_open = false;
};

bool restrictsCustomers(const Operator& op, const Conditions& cond) {
    return !op.allBranches || !op.allGroups || !cond.branches.empty() || !cond.group.empty() ||
           !cond.customer.empty();
}

// The names of the customers the query may list. A rule whose customer is not here is not listed, as
// an inner join would leave it out.
bool loadCustomerNames(Db& db, const Operator& op, const Conditions& cond, CustomerNames& names,
                       std::string& error) {
    SqlQuery q("SELECT c.khh, c.name FROM customers c WHERE 1");
    filterCustomers(q, op, cond);
    Statement stmt;
    if (!q.prepare(db, stmt, error))
        return false;
    std::string wire;
    for (;;) {
        const int rc = stmt.step();
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW) {
            error = sqlite3_errstr(rc);
            return false;
        }
        const std::string_view name = stmt.text(1);
        if (ReplyWriter::isPlainWire(name))
            wire.assign(name);
        else
            ReplyWriter::toWire(name, wire);
        names.add(stmt.text(0), wire);
    }
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

StreamEnd SqliteStore::streamRules(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                   ReplyWriter& reply, std::string& error) {
    const Operator& op = *query.op;
    const Conditions& cond = *query.cond;
    // Column 0 is the rule's account (for its customer's name); the reply's items follow.
    SqlQuery q("SELECT r.khh");
    std::vector<OutputColumn> output;
    output.reserve(columns.size());
    int selected = 0; // statement columns after the account
    for (const ReplyColumn& column : columns) {
        OutputColumn out{};
        const auto [end, ec] = std::to_chars(out.digits, out.digits + sizeof out.digits, column.tag);
        (void)ec; // a uint32 always fits
        out.digitCount = static_cast<std::size_t>(end - out.digits);
        if (column.field == kFieldCustomerName) {
            out.from = OutputColumn::From::CustomerName;
            out.column = 0;
        } else if (listed(kIntegerFields, column.field) || listed(kTextFields, column.field)) {
            out.from =
                listed(kIntegerFields, column.field) ? OutputColumn::From::Integer : OutputColumn::From::Text;
            out.column = ++selected;
            q.sql(", r.").sql(column.field);
        } else {
            error = "no rule field " + std::string(column.field);
            return StreamEnd::DatabaseError;
        }
        output.push_back(out);
    }

    const ReadSnapshot snapshot(m_db);
    CustomerNames names;
    if (!loadCustomerNames(m_db, op, cond, names, error))
        return StreamEnd::DatabaseError;

    // Listing most of the table: read it in serial order ("+" keeps the planner off the kind's index).
    const bool restricted = restrictsCustomers(op, cond);
    const bool bulk = !restricted && cond.exchange.empty() && cond.variety.empty() && cond.contract.empty() &&
                      kindIsBulk(m_db, query.category);
    q.sql(bulk ? " FROM rules r WHERE +r.kind = " : " FROM rules r WHERE r.kind = ")
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
    if (!cond.exchange.empty())
        q.sql(" AND r.jys = ").value(cond.exchange);
    if (!cond.variety.empty())
        q.sql(" AND r.zqlb = ").value(cond.variety);
    if (!cond.contract.empty()) {
        if (query.contractOnEitherLeg)
            q.sql(" AND (r.hydm = ")
                .value(cond.contract)
                .sql(" OR r.src_hydm = ")
                .value(cond.contract)
                .sql(")");
        else
            q.sql(" AND r.hydm = ").value(cond.contract);
    }
    // Within validity: the validity date is today or later. Expired: it has passed; the date range
    // then selects by the date the rule was set.
    const char* const validDate = bulk ? " AND +r.valid_date" : " AND r.valid_date";
    if (cond.validity == Validity::Valid) {
        q.sql(validDate).sql(" >= ").value(query.today);
    } else if (cond.validity == Validity::Expired) {
        q.sql(validDate).sql(" < ").value(query.today);
        if (!cond.beginDate.empty())
            q.sql(" AND r.set_date >= ").value(cond.beginDate);
        if (!cond.endDate.empty())
            q.sql(" AND r.set_date <= ").value(cond.endDate);
    }
    q.sql(" ORDER BY r.lsh");

    Statement stmt;
    if (!q.prepare(m_db, stmt, error))
        return StreamEnd::DatabaseError;
    sqlite3_stmt* const raw = stmt.handle();
    for (;;) {
        const int rc = stmt.step();
        if (rc == SQLITE_DONE)
            return StreamEnd::Done;
        if (rc != SQLITE_ROW) {
            error = sqlite3_errstr(rc);
            return StreamEnd::DatabaseError;
        }
        std::string_view name;
        if (!names.find(stmt.text(0), name))
            continue;
        reply.beginRow();
        for (const OutputColumn& out : output) {
            if (out.from == OutputColumn::From::CustomerName) {
                reply.addWire(out.tag(), name);
                continue;
            }
            // One call for the column, then its value read directly.
            sqlite3_value* const value = sqlite3_column_value(raw, out.column);
            if (out.from == OutputColumn::From::Integer && sqlite3_value_type(value) == SQLITE_INTEGER) {
                reply.addInteger(out.tag(), sqlite3_value_int64(value));
                continue;
            }
            // Text, or a number column holding something else: its text.
            const unsigned char* text = sqlite3_value_text(value);
            reply.addText(out.tag(),
                          text ? std::string_view(reinterpret_cast<const char*>(text),
                                                  static_cast<std::size_t>(sqlite3_value_bytes(value)))
                               : std::string_view());
        }
        if (!reply.endRow())
            return StreamEnd::SinkFailed;
    }
}

} // namespace orvo::server::sqlite
