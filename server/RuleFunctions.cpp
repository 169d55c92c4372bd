// Rule queries of the six order kinds: 16476 price-triggered, 16477 stop-loss / take-profit,
// 16486 fill-triggered, 16479 arbitrage and 16485 batch (1842 = 6) or linked (1842 = 5).
#include "server/Conditions.h"
#include "server/Functions.h"

#include "protocol/Header.h"

#include <array>
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

} // namespace

Outcome handleRules(CallContext& ctx) {
    std::string error;
    Kind kind;
    if (!kindOf(ctx.request, kind, error))
        return fail(proto::kStatusBadRequest, error);
    Conditions cond;
    if (!parseConditions(ctx.request, cond, error))
        return fail(proto::kStatusBadRequest, error);

    SqlQuery q("SELECT ");
    std::vector<std::uint32_t> tags;
    tags.reserve(kind.columns.size());
    for (size_t i = 0; i < kind.columns.size(); ++i) {
        q.sql(i ? ", " : "").sql(kind.columns[i].expr);
        tags.push_back(kind.columns[i].tag);
    }
    q.sql(" FROM rules r JOIN customers c ON c.khh = r.khh WHERE r.kind = ")
        .value(std::int64_t{kind.category});
    filterCustomers(q, ctx.session.op, cond);
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
    if (cond.validity == Validity::Valid) {
        q.sql(" AND r.valid_date >= ").value(ctx.today);
    } else if (cond.validity == Validity::Expired) {
        q.sql(" AND r.valid_date < ").value(ctx.today);
        if (!cond.beginDate.empty())
            q.sql(" AND r.set_date >= ").value(cond.beginDate);
        if (!cond.endDate.empty())
            q.sql(" AND r.set_date <= ").value(cond.endDate);
    }
    q.sql(" ORDER BY r.lsh");

    Statement stmt;
    if (!q.prepare(ctx.db, stmt, error))
        return fail(proto::kStatusInternal, "database error: " + error);
    return streamRows(ctx, stmt, tags);
}

} // namespace orvo::server
