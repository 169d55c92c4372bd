// Rule queries of the six order kinds: 16476 price-triggered, 16477 stop-loss / take-profit,
// 16486 fill-triggered, 16479 arbitrage and 16485 batch (1842 = 6) or linked (1842 = 5).
#include "server/Conditions.h"
#include "server/CustomerNames.h"
#include "server/Functions.h"

#include "protocol/Header.h"

#include <array>
#include <charconv>
#include <string_view>
#include <vector>

namespace orvo::server {
namespace {

struct Column {
    std::uint32_t tag;
    const char* expr; // over rules r joined with customers c
};

// Each kind answers with the tags the client reads for it, plus the exchange, trading code and
// category so every row identifies its rule completely.
constexpr Column kPriceTrigger[] = {
    {797, "r.lsh"},          {605, "r.khh"},      {613, "c.name"},      {830, "r.status_text"},
    {727, "r.cfzt"},         {719, "r.hydm"},     {683, "r.mmfx"},      {1718, "r.kpfx"},
    {684, "r.lots"},         {682, "r.price"},    {1783, "r.pdfx"},     {1800, "r.trig_price"},
    {742, "r.ticks_profit"}, {750, "r.set_time"}, {7107, "r.set_date"}, {1240, "r.valid_date"},
    {7153, "r.kind"},        {1842, "r.kind"},    {599, "r.jys"},       {1716, "r.jybm"},
};

constexpr Column kStopProfit[] = {
    {797, "r.lsh"},
    {605, "r.khh"},
    {613, "c.name"},
    {830, "r.status_text"},
    {727, "r.cfzt"},
    {719, "r.hydm"},
    {683, "r.mmfx"},
    {1718, "r.kpfx"},
    {684, "r.lots"},
    {682, "r.price"},
    {1796, "r.off_profit_trig"},
    {1797, "r.off_profit_order"},
    {1798, "r.off_loss_trig"},
    {1799, "r.off_loss_order"},
    {742, "r.ticks_profit"},
    {745, "r.ticks_loss"},
    {750, "r.set_time"},
    {7107, "r.set_date"},
    {1836, "r.valid_date"},
    {7153, "r.kind"},
    {599, "r.jys"},
    {1716, "r.jybm"},
    {1842, "r.kind"},
};

constexpr Column kFillTrigger[] = {
    {797, "r.lsh"},        {605, "r.khh"},         {613, "c.name"},        {830, "r.status_text"},
    {727, "r.cfzt"},       {9098, "r.src_order"},  {1393, "r.src_hydm"},   {1849, "r.src_mmfx"},
    {1850, "r.src_kpfx"},  {1439, "r.src_lots"},   {1874, "r.src_filled"}, {1875, "r.src_cancelled"},
    {1418, "r.src_price"}, {681, "r.order_no"},    {719, "r.hydm"},        {683, "r.mmfx"},
    {1718, "r.kpfx"},      {684, "r.lots"},        {682, "r.price"},       {750, "r.set_time"},
    {7107, "r.set_date"},  {1240, "r.valid_date"}, {7153, "r.kind"},       {1842, "r.kind"},
    {599, "r.jys"},        {1716, "r.jybm"},
};

constexpr Column kArbitrage[] = {
    {797, "r.lsh"},       {605, "r.khh"},         {613, "c.name"},        {830, "r.status_text"},
    {727, "r.cfzt"},      {1718, "r.kpfx"},       {621, "r.tllx"},        {1800, "r.trig_price"},
    {728, "r.deviation"}, {719, "r.hydm"},        {683, "r.mmfx"},        {682, "r.price"},
    {684, "r.lots"},      {1834, "r.trig_lots1"}, {528, "r.filled"},      {1393, "r.src_hydm"},
    {1849, "r.src_mmfx"}, {1418, "r.src_price"},  {1439, "r.src_lots"},   {853, "r.trig_lots2"},
    {845, "r.filled2"},   {1858, "r.min_order"},  {9020, "r.single_leg"}, {750, "r.set_time"},
    {7107, "r.set_date"}, {1836, "r.valid_date"}, {599, "r.jys"},         {1716, "r.jybm"},
    {1842, "r.kind"},     {7153, "r.kind"},
};

constexpr Column kBatch[] = {
    {797, "r.lsh"},      {605, "r.khh"},         {613, "c.name"}, {719, "r.hydm"},   {683, "r.mmfx"},
    {1718, "r.kpfx"},    {1841, "r.avg_price"},  {684, "r.lots"}, {528, "r.filled"}, {886, "r.cancelled"},
    {750, "r.set_time"}, {7107, "r.set_date"},   {599, "r.jys"},  {1716, "r.jybm"},  {1842, "r.kind"},
    {7153, "r.kind"},    {830, "r.status_text"},
};

constexpr Column kLinked[] = {
    {797, "r.lsh"},         {605, "r.khh"},        {613, "c.name"},     {1837, "r.xzbh"},
    {1839, "r.fzbh"},       {1840, "r.xdfs"},      {719, "r.hydm"},     {683, "r.mmfx"},
    {1718, "r.kpfx"},       {684, "r.lots"},       {528, "r.filled"},   {886, "r.cancelled"},
    {682, "r.price"},       {1841, "r.avg_price"}, {750, "r.set_time"}, {7107, "r.set_date"},
    {599, "r.jys"},         {1716, "r.jybm"},      {1842, "r.kind"},    {7153, "r.kind"},
    {830, "r.status_text"},
};

struct Kind {
    int category;
    std::span<const Column> columns;
};

// Picks the kind from the function and, for 16485, from item 1842. 16476 may carry 1842 = 2.
bool kindOf(const Request& request, Kind& kind, std::string& error) {
    long long category = 0;
    bool present = false;
    if (!readInteger(request, kTagCategory, category, present, error))
        return false;
    switch (request.function) {
    case kFunctionPriceTrigger:
        kind = {kCategoryPriceTrigger, kPriceTrigger};
        break;
    case kFunctionStopProfit:
        kind = {kCategoryStopProfit, kStopProfit};
        break;
    case kFunctionFillTrigger:
        kind = {kCategoryFillTrigger, kFillTrigger};
        break;
    case kFunctionArbitrage:
        kind = {kCategoryArbitrage, kArbitrage};
        break;
    case kFunctionBatchLinked:
        if (!present || (category != kCategoryBatch && category != kCategoryLinked)) {
            error = "function 16485 needs item 1842 = 6 (batch) or 5 (linked)";
            return false;
        }
        kind = category == kCategoryBatch ? Kind{kCategoryBatch, kBatch} : Kind{kCategoryLinked, kLinked};
        return true;
    default:
        error = "not a rule function";
        return false;
    }
    if (present && category != kind.category) {
        error = "item 1842 = " + std::to_string(category) + " does not belong to function " +
                std::to_string(request.function);
        return false;
    }
    return true;
}

// Columns stored as INTEGER: read as numbers and written as digits, with nothing to check.
bool isIntegerColumn(std::string_view expr) {
    static constexpr std::string_view kIntegers[] = {
        "r.lsh",        "r.kind",          "r.cfzt", "r.mmfx",       "r.kpfx",       "r.lots",
        "r.filled",     "r.cancelled",     "r.pdfx", "r.src_mmfx",   "r.src_kpfx",   "r.src_lots",
        "r.src_filled", "r.src_cancelled", "r.tllx", "r.trig_lots1", "r.trig_lots2", "r.filled2",
        "r.min_order",  "r.single_leg",    "r.xzbh", "r.fzbh",       "r.xdfs"};
    for (std::string_view name : kIntegers)
        if (expr == name)
            return true;
    return false;
}

constexpr std::string_view kCustomerName = "c.name";
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

// A read snapshot over the handler's statements, where the connection is not already in one.
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

// The names of the customers the query may list, read in the same snapshot as the rules, so the reply
// never pairs a rule with a name from another moment. A rule whose customer is not here is not listed,
// as an inner join would leave it out.
bool loadCustomerNames(CallContext& ctx, const Conditions& cond, CustomerNames& names, std::string& error) {
    SqlQuery q("SELECT c.khh, c.name FROM customers c WHERE 1");
    filterCustomers(q, ctx.session.op, cond);
    Statement stmt;
    if (!q.prepare(ctx.db, stmt, error))
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

Outcome handleRules(CallContext& ctx) {
    std::string error;
    Kind kind;
    if (!kindOf(ctx.request, kind, error))
        return fail(proto::kStatusBadRequest, error);
    Conditions cond;
    if (!parseConditions(ctx.request, cond, error))
        return fail(proto::kStatusBadRequest, error);

    const ReadSnapshot snapshot(ctx.db);
    CustomerNames names;
    if (!loadCustomerNames(ctx, cond, names, error))
        return fail(proto::kStatusInternal, "database error: " + error);

    // Column 0 is the rule's account (for its customer's name); the reply's items follow.
    SqlQuery q("SELECT r.khh");
    std::vector<OutputColumn> output;
    output.reserve(kind.columns.size());
    int selected = 0; // statement columns after the account
    for (const Column& column : kind.columns) {
        OutputColumn out{};
        const auto [end, ec] = std::to_chars(out.digits, out.digits + sizeof out.digits, column.tag);
        (void)ec; // a uint32 always fits
        out.digitCount = static_cast<std::size_t>(end - out.digits);
        if (column.expr == kCustomerName) {
            out.from = OutputColumn::From::CustomerName;
            out.column = 0;
        } else {
            out.from = isIntegerColumn(column.expr) ? OutputColumn::From::Integer : OutputColumn::From::Text;
            out.column = ++selected;
            q.sql(", ").sql(column.expr);
        }
        output.push_back(out);
    }
    // Listing most of the table: read it in serial order ("+" keeps the planner off the kind's index).
    const bool restricted = restrictsCustomers(ctx.session.op, cond);
    const bool bulk = !restricted && cond.exchange.empty() && cond.variety.empty() && cond.contract.empty() &&
                      kindIsBulk(ctx.db, kind.category);
    q.sql(bulk ? " FROM rules r WHERE +r.kind = " : " FROM rules r WHERE r.kind = ")
        .value(std::int64_t{kind.category});
    if (restricted) {
        // The serials of the operator's customers' rules come from the (khh, kind) index alone; SQLite
        // keeps them sorted and reads the rules in that order, so no row is sorted or held.
        q.sql(" AND r.lsh IN (SELECT k.lsh FROM rules k WHERE k.kind = ")
            .value(std::int64_t{kind.category})
            .sql(" AND k.khh IN (SELECT c.khh FROM customers c WHERE 1");
        filterCustomers(q, ctx.session.op, cond);
        q.sql("))");
    }
    if (!cond.exchange.empty())
        q.sql(" AND r.jys = ").value(cond.exchange);
    if (!cond.variety.empty())
        q.sql(" AND r.zqlb = ").value(cond.variety);
    if (!cond.contract.empty()) {
        // An arbitrage rule holds a contract on either leg.
        if (kind.category == kCategoryArbitrage)
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
        q.sql(validDate).sql(" >= ").value(ctx.today);
    } else if (cond.validity == Validity::Expired) {
        q.sql(validDate).sql(" < ").value(ctx.today);
        if (!cond.beginDate.empty())
            q.sql(" AND r.set_date >= ").value(cond.beginDate);
        if (!cond.endDate.empty())
            q.sql(" AND r.set_date <= ").value(cond.endDate);
    }
    q.sql(" ORDER BY r.lsh");

    Statement stmt;
    if (!q.prepare(ctx.db, stmt, error))
        return fail(proto::kStatusInternal, "database error: " + error);
    sqlite3_stmt* const raw = stmt.handle();
    for (;;) {
        const int rc = stmt.step();
        if (rc == SQLITE_DONE)
            return ok();
        if (rc != SQLITE_ROW)
            return fail(proto::kStatusInternal, "database error: " + std::string(sqlite3_errstr(rc)));
        std::string_view name;
        if (!names.find(stmt.text(0), name))
            continue;
        ctx.reply.beginRow();
        for (const OutputColumn& out : output) {
            if (out.from == OutputColumn::From::CustomerName) {
                ctx.reply.addWire(out.tag(), name);
                continue;
            }
            // One call for the column, then its value read directly.
            sqlite3_value* const value = sqlite3_column_value(raw, out.column);
            if (out.from == OutputColumn::From::Integer && sqlite3_value_type(value) == SQLITE_INTEGER) {
                ctx.reply.addInteger(out.tag(), sqlite3_value_int64(value));
                continue;
            }
            // Text, or a number column holding something else: its text.
            const unsigned char* text = sqlite3_value_text(value);
            ctx.reply.addText(out.tag(),
                              text ? std::string_view(reinterpret_cast<const char*>(text),
                                                      static_cast<std::size_t>(sqlite3_value_bytes(value)))
                                   : std::string_view());
        }
        if (!ctx.reply.endRow())
            return fail(proto::kStatusInternal, "connection lost while sending");
    }
}

} // namespace orvo::server
