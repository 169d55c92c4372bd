// The counter's functions. dispatch() checks the login, finds the handler and runs it; each handler
// streams its rows into the reply and returns the status of the end frame.
#pragma once

#include "server/functions/Request.h"
#include "server/store/Store.h"

#include "protocol/Header.h"

#include <string>

namespace orvo::server {

inline constexpr std::uint32_t kFunctionPermissions = 15016;
inline constexpr std::uint32_t kFunctionPriceTrigger = 16476;
inline constexpr std::uint32_t kFunctionStopProfit = 16477;
inline constexpr std::uint32_t kFunctionFillTrigger = 16486;
inline constexpr std::uint32_t kFunctionArbitrage = 16479;
inline constexpr std::uint32_t kFunctionBatchLinked = 16485;
inline constexpr std::uint32_t kFunctionLinkGroups = 16425;
inline constexpr std::uint32_t kFunctionLinkSubgroups = 16433;
inline constexpr std::uint32_t kFunctionCurrentOrders = 16151;
inline constexpr std::uint32_t kFunctionHistoryOrders = 16171;
inline constexpr std::uint32_t kFunctionRuleChanges = 16500;
inline constexpr std::uint32_t kFunctionOrderChanges = 16501;

// Order categories (request and reply tag 1842).
inline constexpr int kCategoryPriceTrigger = 2;
inline constexpr int kCategoryStopProfit = 3;
inline constexpr int kCategoryFillTrigger = 4;
inline constexpr int kCategoryLinked = 5;
inline constexpr int kCategoryBatch = 6;
inline constexpr int kCategoryArbitrage = 7;

Outcome dispatch(CallContext& ctx);

// The handlers, grouped by source file.
Outcome handleLogin(CallContext& ctx); // HostFunctions.cpp
Outcome handleDownload(CallContext& ctx);
Outcome handleHeartbeat(CallContext& ctx);
Outcome handlePermissions(CallContext& ctx);
Outcome handleRules(CallContext& ctx);      // RuleFunctions.cpp
Outcome handleLinkGroups(CallContext& ctx); // LinkGroupFunctions.cpp
Outcome handleLinkSubgroups(CallContext& ctx);
Outcome handleOrders(CallContext& ctx); // OrderFunctions.cpp
// An order function's request (16151, 16171: ctx.request.function) read into a query; false with the
// reply to send (status 1) when an item is wrong. The query points into `order`'s texts.
struct OrderRequest {
    std::string customer, beginDate, endDate;
    OrderQuery query;
};
bool readOrderRequest(const CallContext& ctx, OrderRequest& order, Outcome& failure);
Outcome handleRuleChanges(CallContext& ctx); // ChangeFunctions.cpp
Outcome handleOrderChanges(CallContext& ctx);

// The reply columns of a rule category's query (RuleFunctions.cpp); false for no such category.
bool ruleColumnsOf(int category, std::span<const ReplyColumn>& columns);

// The outcome of a streamed reply: ok, or status 9 on a database error or a lost connection, with the
// rows already sent left as they are; status 5, and a log line naming the row, when a row was too large
// for a frame (never a reply that looks complete without it).
Outcome streamOutcome(const CallContext& ctx, StreamEnd end, const std::string& error);

} // namespace orvo::server
