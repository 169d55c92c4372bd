#include "server/store/sqlite/SqliteRuleRows.h"

#include "server/store/QueryFilters.h"

#include <algorithm>
#include <charconv>

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

} // namespace

bool selectRuleColumns(std::span<const ReplyColumn> columns, SqlQuery& q, int firstColumn,
                       std::vector<OutputColumn>& output, std::string& error) {
    output.clear();
    output.reserve(columns.size());
    int next = firstColumn;
    for (const ReplyColumn& column : columns) {
        OutputColumn out{};
        const auto [end, ec] = std::to_chars(out.digits, out.digits + sizeof out.digits, column.tag);
        (void)ec; // a uint32 always fits
        out.digitCount = static_cast<std::size_t>(end - out.digits);
        if (column.field == kFieldCustomerName) {
            out.from = OutputColumn::From::CustomerName;
            out.column = -1;
        } else if (listed(kIntegerFields, column.field) || listed(kTextFields, column.field)) {
            out.from =
                listed(kIntegerFields, column.field) ? OutputColumn::From::Integer : OutputColumn::From::Text;
            out.column = next++;
            q.sql(", r.").sql(column.field);
        } else {
            error = "no rule field " + std::string(column.field);
            return false;
        }
        output.push_back(out);
    }
    return true;
}

void filterRuleConditions(SqlQuery& q, const RuleQuery& query, bool unindexed) {
    // "+r.valid_date" is not an indexed column to SQLite's planner.
    appendRuleConditions(q, query, unindexed ? " AND +r.valid_date" : " AND r.valid_date");
}

void wireName(std::string_view utf8Name, std::string& wire) {
    if (ReplyWriter::isPlainWire(utf8Name))
        wire.assign(utf8Name);
    else
        ReplyWriter::toWire(utf8Name, wire);
}

bool readCustomerNames(Statement& stmt, CustomerNames& names, std::string& error) {
    std::string wire;
    for (;;) {
        const int rc = stmt.step();
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW) {
            error = sqlite3_errstr(rc);
            return false;
        }
        wireName(stmt.text(1), wire);
        names.add(stmt.text(0), wire);
    }
}

void EncodedItems::integer(std::string_view tag, std::int64_t value) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec; // an int64 always fits
    put(tag, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void EncodedItems::text(std::string_view tag, std::string_view utf8Value) {
    if (ReplyWriter::isPlainWire(utf8Value)) {
        put(tag, utf8Value);
        return;
    }
    m_scratch.clear();
    m_reply.encodeText(m_scratch, tag, utf8Value);
    // The item whole: tag, '=', the converted value, the separator.
    const std::string_view item(m_scratch);
    put(tag, item.substr(tag.size() + 1, item.size() - tag.size() - 2));
}

void EncodedItems::grow(std::size_t need) {
    m_capacity = std::max({std::size_t{4096}, 2 * m_capacity, m_size + need});
    m_data.resize(m_capacity);
}

std::string EncodedItems::takeBytes() {
    std::string storage = std::move(m_data);
    m_data = std::string();
    m_size = 0;
    m_capacity = 0;
    return storage;
}

void EncodedItems::reuse(std::string storage) {
    m_data = std::move(storage);
    m_size = 0;
    m_capacity = m_data.size();
}

ReadSnapshot::ReadSnapshot(Db& db) : m_db(db) {
    std::string ignored;
    m_open = sqlite3_get_autocommit(db.handle()) != 0 && db.exec("BEGIN", ignored);
}

ReadSnapshot::~ReadSnapshot() {
    if (m_open) {
        std::string ignored;
        m_db.exec("COMMIT", ignored);
    }
}

} // namespace orvo::server::sqlite
