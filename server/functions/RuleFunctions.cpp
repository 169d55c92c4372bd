// Rule queries of the six order kinds: 16476 price-triggered, 16477 stop-loss / take-profit,
// 16486 fill-triggered, 16479 arbitrage and 16485 batch (1842 = 6) or linked (1842 = 5).
#include "server/functions/ConditionItems.h"
#include "server/functions/Functions.h"
#include "server/store/Store.h"

#include "protocol/Header.h"

#include <string>

namespace orvo::server {
namespace {

// Each kind answers with the tags the client reads for it, plus the exchange, trading code and
// category so every row identifies its rule completely.
constexpr ReplyColumn kPriceTrigger[] = {
    {797, "lsh"},          {605, "khh"},      {613, kFieldCustomerName},
    {830, "status_text"},  {727, "cfzt"},     {719, "hydm"},
    {683, "mmfx"},         {1718, "kpfx"},    {684, "lots"},
    {682, "price"},        {1783, "pdfx"},    {1800, "trig_price"},
    {742, "ticks_profit"}, {750, "set_time"}, {7107, "set_date"},
    {1240, "valid_date"},  {7153, "kind"},    {1842, "kind"},
    {599, "jys"},          {1716, "jybm"},
};

constexpr ReplyColumn kStopProfit[] = {
    {797, "lsh"},
    {605, "khh"},
    {613, kFieldCustomerName},
    {830, "status_text"},
    {727, "cfzt"},
    {719, "hydm"},
    {683, "mmfx"},
    {1718, "kpfx"},
    {684, "lots"},
    {682, "price"},
    {1796, "off_profit_trig"},
    {1797, "off_profit_order"},
    {1798, "off_loss_trig"},
    {1799, "off_loss_order"},
    {742, "ticks_profit"},
    {745, "ticks_loss"},
    {750, "set_time"},
    {7107, "set_date"},
    {1836, "valid_date"},
    {7153, "kind"},
    {599, "jys"},
    {1716, "jybm"},
    {1842, "kind"},
};

constexpr ReplyColumn kFillTrigger[] = {
    {797, "lsh"},         {605, "khh"},         {613, kFieldCustomerName},
    {830, "status_text"}, {727, "cfzt"},        {9098, "src_order"},
    {1393, "src_hydm"},   {1849, "src_mmfx"},   {1850, "src_kpfx"},
    {1439, "src_lots"},   {1874, "src_filled"}, {1875, "src_cancelled"},
    {1418, "src_price"},  {681, "order_no"},    {719, "hydm"},
    {683, "mmfx"},        {1718, "kpfx"},       {684, "lots"},
    {682, "price"},       {750, "set_time"},    {7107, "set_date"},
    {1240, "valid_date"}, {7153, "kind"},       {1842, "kind"},
    {599, "jys"},         {1716, "jybm"},
};

constexpr ReplyColumn kArbitrage[] = {
    {797, "lsh"},         {605, "khh"},         {613, kFieldCustomerName},
    {830, "status_text"}, {727, "cfzt"},        {1718, "kpfx"},
    {621, "tllx"},        {1800, "trig_price"}, {728, "deviation"},
    {719, "hydm"},        {683, "mmfx"},        {682, "price"},
    {684, "lots"},        {1834, "trig_lots1"}, {528, "filled"},
    {1393, "src_hydm"},   {1849, "src_mmfx"},   {1418, "src_price"},
    {1439, "src_lots"},   {853, "trig_lots2"},  {845, "filled2"},
    {1858, "min_order"},  {9020, "single_leg"}, {750, "set_time"},
    {7107, "set_date"},   {1836, "valid_date"}, {599, "jys"},
    {1716, "jybm"},       {1842, "kind"},       {7153, "kind"},
};

constexpr ReplyColumn kBatch[] = {
    {797, "lsh"},        {605, "khh"},         {613, kFieldCustomerName},
    {719, "hydm"},       {683, "mmfx"},        {1718, "kpfx"},
    {1841, "avg_price"}, {684, "lots"},        {528, "filled"},
    {886, "cancelled"},  {750, "set_time"},    {7107, "set_date"},
    {599, "jys"},        {1716, "jybm"},       {1842, "kind"},
    {7153, "kind"},      {830, "status_text"},
};

constexpr ReplyColumn kLinked[] = {
    {797, "lsh"},       {605, "khh"},        {613, kFieldCustomerName},
    {1837, "xzbh"},     {1839, "fzbh"},      {1840, "xdfs"},
    {719, "hydm"},      {683, "mmfx"},       {1718, "kpfx"},
    {684, "lots"},      {528, "filled"},     {886, "cancelled"},
    {682, "price"},     {1841, "avg_price"}, {750, "set_time"},
    {7107, "set_date"}, {599, "jys"},        {1716, "jybm"},
    {1842, "kind"},     {7153, "kind"},      {830, "status_text"},
};

struct Kind {
    int category;
    std::span<const ReplyColumn> columns;
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

bool ruleColumnsOf(int category, std::span<const ReplyColumn>& columns) {
    switch (category) {
    case kCategoryPriceTrigger:
        columns = kPriceTrigger;
        return true;
    case kCategoryStopProfit:
        columns = kStopProfit;
        return true;
    case kCategoryFillTrigger:
        columns = kFillTrigger;
        return true;
    case kCategoryArbitrage:
        columns = kArbitrage;
        return true;
    case kCategoryBatch:
        columns = kBatch;
        return true;
    case kCategoryLinked:
        columns = kLinked;
        return true;
    default:
        return false;
    }
}

Outcome handleRules(CallContext& ctx) {
    std::string error;
    Kind kind;
    if (!kindOf(ctx.request, kind, error))
        return fail(proto::kStatusBadRequest, error);
    Conditions cond;
    if (!parseConditions(ctx.request, cond, error))
        return fail(proto::kStatusBadRequest, error);
    RuleQuery query;
    query.category = kind.category;
    query.op = &ctx.session.op;
    query.cond = &cond;
    query.today = ctx.today;
    // An arbitrage rule holds a contract on either leg.
    query.contractOnEitherLeg = kind.category == kCategoryArbitrage;
    return streamOutcome(ctx, ctx.store->streamRules(query, kind.columns, ctx.reply, error), error);
}

} // namespace orvo::server
