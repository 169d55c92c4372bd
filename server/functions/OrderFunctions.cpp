// Orders a rule produced: 16151 the current ones, 16171 the history, optionally within a date range.
#include "server/common/Dates.h"
#include "server/functions/ConditionItems.h"
#include "server/functions/Functions.h"

#include "protocol/Header.h"

namespace orvo::server {
namespace {

constexpr std::uint32_t kTagRuleSerial = 1855;

constexpr std::uint32_t kOrderTags[] = {605, 681,  754, 719, 683, 1718, 682, 684,  1734, 528,
                                        886, 1717, 599, 750, 751, 7107, 755, 1855, 1842, 1716};

} // namespace

Outcome handleOrders(CallContext& ctx) {
    const Request& req = ctx.request;
    const bool history = req.function == kFunctionHistoryOrders;
    std::string error, customer, begin, end;
    bool present = false;
    if (!readText(req, kTagCustomer, kMaxCodeBytes, customer, present, error))
        return fail(proto::kStatusBadRequest, error);
    if (customer.empty())
        return fail(proto::kStatusBadRequest, "item 605 (customer) is required");
    long long serial = 0, category = 0;
    if (!readInteger(req, kTagRuleSerial, serial, present, error))
        return fail(proto::kStatusBadRequest, error);
    if (!present || serial <= 0)
        return fail(proto::kStatusBadRequest, "item 1855 (rule serial number) must be greater than 0");
    bool haveCategory = false;
    if (!readInteger(req, kTagCategory, category, haveCategory, error))
        return fail(proto::kStatusBadRequest, error);
    if (history) {
        if (!readText(req, kTagBeginDate, kMaxCodeBytes, begin, present, error) ||
            !readText(req, kTagEndDate, kMaxCodeBytes, end, present, error))
            return fail(proto::kStatusBadRequest, error);
        if ((!begin.empty() && !isDate(begin)) || (!end.empty() && !isDate(end)))
            return fail(proto::kStatusBadRequest, "dates in items 618 and 590 must be YYYY.MM.DD");
    }

    OrderQuery query;
    query.op = &ctx.session.op;
    query.customer = customer;
    query.ruleSerial = serial;
    query.history = history;
    query.haveCategory = haveCategory;
    query.category = category;
    query.beginDate = begin;
    query.endDate = end;
    return streamOutcome(ctx, ctx.store->streamOrders(query, kOrderTags, ctx.reply, error), error);
}

} // namespace orvo::server
