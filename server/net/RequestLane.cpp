#include "server/net/RequestLane.h"

#include "protocol/Header.h"
#include "server/functions/ConditionItems.h"
#include "server/functions/Functions.h"
#include "server/functions/SessionTickets.h"

namespace orvo::server {
namespace {

constexpr std::uint32_t kTagRuleSerial = 1855;

bool hasValue(const proto::Frame& frame, std::uint32_t tag) {
    const proto::Item* item = frame.Find(tag);
    return item && !item->value.empty();
}

} // namespace

Lane laneOf(const proto::Frame& frame) {
    proto::Header header;
    if (proto::ReadHeader(frame.items, header) != proto::Error::None)
        return Lane::Light; // answered with an error at once
    switch (header.function) {
    case proto::kFunctionLogin:
        // A ticket without a password is checked without a hash (see handleLogin).
        return frame.Find(proto::kTagPassword) || !frame.Find(kTagSessionTicket) ? Lane::Login : Lane::Light;
    case proto::kFunctionDownloadTable:
        return Lane::Heavy;
    case kFunctionPriceTrigger:
    case kFunctionStopProfit:
    case kFunctionFillTrigger:
    case kFunctionArbitrage:
    case kFunctionBatchLinked:
    case kFunctionLinkGroups:
    case kFunctionLinkSubgroups:
    case kFunctionCurrentOrders:
    case kFunctionHistoryOrders:
        return hasValue(frame, kTagCustomer) ? Lane::Light : Lane::Heavy;
    case kFunctionOrderChanges:
        // A changed list is answered whole: one rule's or one customer's orders, else every order.
        return hasValue(frame, kTagCustomer) || hasValue(frame, kTagRuleSerial) ? Lane::Light : Lane::Heavy;
    default:
        return Lane::Light;
    }
}

} // namespace orvo::server
