#include "server/functions/Functions.h"

#include "protocol/Header.h"
#include "protocol/Limits.h"
#include "server/common/LogText.h"
#include "server/common/ServerLog.h"

#include <string>

namespace orvo::server {

Outcome dispatch(CallContext& ctx) {
    const std::uint32_t function = ctx.request.function;
    Outcome (*handler)(CallContext&) = nullptr;
    bool needsLogin = true;
    switch (function) {
    case proto::kFunctionLogin:
        handler = handleLogin;
        needsLogin = false;
        break;
    case proto::kFunctionHeartbeat:
        handler = handleHeartbeat;
        needsLogin = false;
        break;
    case proto::kFunctionDownloadTable:
        handler = handleDownload;
        break;
    case kFunctionPermissions:
        handler = handlePermissions;
        break;
    case kFunctionPriceTrigger:
    case kFunctionStopProfit:
    case kFunctionFillTrigger:
    case kFunctionArbitrage:
    case kFunctionBatchLinked:
        handler = handleRules;
        break;
    case kFunctionLinkGroups:
        handler = handleLinkGroups;
        break;
    case kFunctionLinkSubgroups:
        handler = handleLinkSubgroups;
        break;
    case kFunctionCurrentOrders:
    case kFunctionHistoryOrders:
        handler = handleOrders;
        break;
    case kFunctionRuleChanges:
        handler = handleRuleChanges;
        break;
    case kFunctionOrderChanges:
        handler = handleOrderChanges;
        break;
    default:
        return fail(proto::kStatusUnknownFunction, "unknown function " + std::to_string(function));
    }
    if (needsLogin && !ctx.session.loggedIn)
        return fail(proto::kStatusNotLoggedIn, "not logged in");
    return handler(ctx);
}

Outcome streamOutcome(const CallContext& ctx, StreamEnd end, const std::string& error) {
    const ReplyWriter& reply = ctx.reply;
    if (reply.refusedRows() > 0) {
        // A row no frame can hold: the client must not take the rows sent for the whole answer.
        const std::string row = escapeText(reply.refusedRowKey(), true);
        logLine(LogLevel::Error, "function " + std::to_string(ctx.request.function) + " seq " +
                                     std::to_string(ctx.request.seq) + ": row " + row +
                                     " is larger than a frame may be; the reply failed after " +
                                     std::to_string(reply.rows()) + " rows");
        return fail(proto::kStatusLimit, "row " + row + " is too large to send (over " +
                                             std::to_string(proto::kMaxFrameSize / (1024 * 1024)) +
                                             " MiB); the reply is incomplete");
    }
    switch (end) {
    case StreamEnd::Done:
        return ok();
    case StreamEnd::DatabaseError:
        return databaseFailure(error);
    case StreamEnd::SinkFailed:
        break;
    }
    return fail(proto::kStatusInternal, "connection lost while sending");
}

} // namespace orvo::server
