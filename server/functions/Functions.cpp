#include "server/functions/Functions.h"

#include "protocol/Header.h"

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
    default:
        return fail(proto::kStatusUnknownFunction, "unknown function " + std::to_string(function));
    }
    if (needsLogin && !ctx.session.loggedIn)
        return fail(proto::kStatusNotLoggedIn, "not logged in");
    return handler(ctx);
}

Outcome streamOutcome(StreamEnd end, const std::string& error) {
    switch (end) {
    case StreamEnd::Done:
        return ok();
    case StreamEnd::DatabaseError:
        return fail(proto::kStatusInternal, "database error: " + error);
    case StreamEnd::SinkFailed:
        break;
    }
    return fail(proto::kStatusInternal, "connection lost while sending");
}

} // namespace orvo::server
