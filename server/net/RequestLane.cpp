#include "server/net/RequestLane.h"

#include "protocol/Header.h"
#include "server/functions/ConditionItems.h"
#include "server/functions/Functions.h"
#include "server/functions/SessionTickets.h"

namespace orvo::server {

bool isLoginRequest(const proto::Frame& frame) {
    proto::Header header;
    if (proto::ReadHeader(frame.items, header) != proto::Error::None ||
        header.function != proto::kFunctionLogin)
        return false;
    // A ticket without a password is checked without a hash (see handleLogin): a light request.
    return frame.Find(proto::kTagPassword) || !frame.Find(kTagSessionTicket);
}

bool isLightRequest(const proto::Frame& frame) {
    proto::Header header;
    if (proto::ReadHeader(frame.items, header) != proto::Error::None)
        return true; // answered with an error at once
    switch (header.function) {
    case proto::kFunctionDownloadTable:
        return false;
    case kFunctionPriceTrigger:
    case kFunctionStopProfit:
    case kFunctionFillTrigger:
    case kFunctionArbitrage:
    case kFunctionBatchLinked:
    case kFunctionLinkGroups:
    case kFunctionLinkSubgroups:
    case kFunctionCurrentOrders:
    case kFunctionHistoryOrders: {
        const proto::Item* customer = frame.Find(kTagCustomer);
        return customer && !customer->value.empty();
    }
    default:
        return true;
    }
}

} // namespace orvo::server
