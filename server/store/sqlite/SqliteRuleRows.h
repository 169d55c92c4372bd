// What both ways of answering a rule query on SQLite share (straight from the table, or through the row
// cache): the reply's columns in a statement, the rule conditions, and one row's items.
#pragma once

#include "server/common/CustomerNames.h"
#include "server/store/ReplyWriter.h"
#include "server/store/Store.h"
#include "server/store/sqlite/Db.h"
#include "server/store/sqlite/SqlQuery.h"

#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server::sqlite {

// How one reply item is made from the statement's row.
struct OutputColumn {
    enum class From : unsigned char { Text, Integer, CustomerName };
    From from;
    int column;      // statement column (none for the customer's name, which the caller gives)
    char digits[12]; // the tag's decimal text
    std::size_t digitCount;
    std::string_view tag() const { return {digits, digitCount}; }
};

// Appends ", r.field" to q for every reply column read from the rule, numbering them from firstColumn;
// false (error set) for a field the rules do not have.
bool selectRuleColumns(std::span<const ReplyColumn> columns, SqlQuery& q, int firstColumn,
                       std::vector<OutputColumn>& output, std::string& error);

// " AND ..." terms on the rules (alias r) for the exchange, variety, contract, validity and date
// conditions. unindexed keeps the planner off the kind's and validity's indexes (a pass over the table).
void filterRuleConditions(SqlQuery& q, const RuleQuery& query, bool unindexed);

// A customer's name as it goes on the wire.
void wireName(std::string_view utf8Name, std::string& wire);

// Steps a prepared statement of (account, name) rows into names, each name as it goes on the wire.
bool readCustomerNames(Statement& stmt, CustomerNames& names, std::string& error);

// Rows' items encoded ahead (for the row cache), byte for byte as ReplyWriter's encode calls write them,
// each item written with one check for room: a cold reply encodes a hundred thousand rows this way.
class EncodedItems {
public:
    explicit EncodedItems(ReplyWriter& reply) : m_reply(reply) {}

    std::size_t size() const { return m_size; }
    // The bytes from `at` on.
    std::string_view from(std::size_t at) const { return {m_data.data() + at, m_size - at}; }
    std::string_view slice(std::size_t at, std::size_t size) const { return {m_data.data() + at, size}; }
    void clear() { m_size = 0; }
    // The bytes written (the storage whole, its first size() bytes written), this left empty.
    std::string takeBytes();
    // Writes from the start of storage given back (its capacity reused).
    void reuse(std::string storage);

    // The writeRuleItems interface.
    void integer(std::string_view tag, std::int64_t value);
    void text(std::string_view tag, std::string_view utf8Value);
    void wire(std::string_view tag, std::string_view wireValue) { put(tag, wireValue); }

private:
    void put(std::string_view tag, std::string_view value) {
        const std::size_t need = tag.size() + value.size() + 2;
        if (m_capacity - m_size < need)
            grow(need);
        char* out = m_data.data() + m_size;
        std::memcpy(out, tag.data(), tag.size());
        out[tag.size()] = '=';
        if (!value.empty())
            std::memcpy(out + tag.size() + 1, value.data(), value.size());
        out[need - 1] = '\x01';
        m_size += need;
    }
    void grow(std::size_t need);

    ReplyWriter& m_reply;
    std::string m_data; // storage: its size is the capacity, the first m_size bytes written
    std::size_t m_size = 0, m_capacity = 0;
    std::string m_scratch; // a text that needs converting, as the reply encodes it
};

// Writes the row's items in reply order through out.integer / out.text / out.wire (tag digits, value).
template <typename Out>
void writeRuleItems(sqlite3_stmt* row, std::span<const OutputColumn> output, std::string_view wireName,
                    Out& out) {
    for (const OutputColumn& column : output) {
        if (column.from == OutputColumn::From::CustomerName) {
            out.wire(column.tag(), wireName);
            continue;
        }
        // One call for the column, then its value read directly.
        sqlite3_value* const value = sqlite3_column_value(row, column.column);
        if (column.from == OutputColumn::From::Integer && sqlite3_value_type(value) == SQLITE_INTEGER) {
            out.integer(column.tag(), sqlite3_value_int64(value));
            continue;
        }
        // Text, or a number column holding something else: its text.
        const unsigned char* text = sqlite3_value_text(value);
        out.text(column.tag(), text ? std::string_view(reinterpret_cast<const char*>(text),
                                                       static_cast<std::size_t>(sqlite3_value_bytes(value)))
                                    : std::string_view());
    }
}

// The rules a query selects, read in serial order straight off the table (no join). Columns: 0 the rule's
// account, then (withKey) 1 its serial and 2 its revision, then the reply's. `names` holds the names of the
// customers the query may list: a rule whose account is not there is not listed, as a join would leave it
// out.
struct RuleScan {
    Statement rows;
    CustomerNames names;
    std::vector<OutputColumn> output;
};
// Reads the names and prepares the statement, in the caller's snapshot; false (error set) on failure.
bool prepareRuleScan(Db& db, const RuleQuery& query, std::span<const ReplyColumn> columns, bool withKey,
                     RuleScan& scan, std::string& error);

// A read snapshot over a query's statements, where the connection is not already in one.
class ReadSnapshot {
public:
    explicit ReadSnapshot(Db& db);
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

private:
    Db& m_db;
    bool m_open = false;
};

} // namespace orvo::server::sqlite
