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

bool readOrderRequest(const CallContext& ctx, OrderRequest& order, Outcome& failure) {
    const Request& req = ctx.request;
    const bool history = req.function == kFunctionHistoryOrders;
    std::string error;
    bool present = false;
    const auto refuse = [&failure](std::string text) {
        failure = fail(proto::kStatusBadRequest, std::move(text));
        return false;
    };
    if (!readText(req, kTagCustomer, kMaxCodeBytes, order.customer, present, error))
        return refuse(error);
    if (order.customer.empty())
        return refuse("item 605 (customer) is required");
    long long serial = 0, category = 0;
    if (!readInteger(req, kTagRuleSerial, serial, present, error))
        return refuse(error);
    if (!present || serial <= 0)
        return refuse("item 1855 (rule serial number) must be greater than 0");
    bool haveCategory = false;
    if (!readInteger(req, kTagCategory, category, haveCategory, error))
        return refuse(error);
    if (history) {
        if (!readText(req, kTagBeginDate, kMaxCodeBytes, order.beginDate, present, error) ||
            !readText(req, kTagEndDate, kMaxCodeBytes, order.endDate, present, error))
            return refuse(error);
        if ((!order.beginDate.empty() && !isDate(order.beginDate)) ||
            (!order.endDate.empty() && !isDate(order.endDate)))
            return refuse("dates in items 618 and 590 must be YYYY.MM.DD");
    }

    OrderQuery& query = order.query;
    query.op = &ctx.session.op;
    query.customer = order.customer;
    query.ruleSerial = serial;
    query.history = history;
    query.haveCategory = haveCategory;
    query.category = category;
    query.beginDate = order.beginDate;
    query.endDate = order.endDate;
    return true;
}

Outcome handleOrders(CallContext& ctx) {
    OrderRequest order;
    Outcome failure;
    if (!readOrderRequest(ctx, order, failure))
        return failure;
    std::string error;
    return streamOutcome(ctx, ctx.store->streamOrders(order.query, kOrderTags, ctx.reply, error), error);
}

} // namespace orvo::server
