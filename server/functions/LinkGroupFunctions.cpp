// Linked-order groups (16425) and their sub-groups (16433), limited to the customers the operator may
// see; the branch, group and customer conditions apply when a request carries them.
#include "server/functions/ConditionItems.h"
#include "server/functions/Functions.h"

#include "protocol/Header.h"

namespace orvo::server {
namespace {

constexpr std::uint32_t kGroupTags[] = {1837, 650, 605, 710, 697, 1844, 570};
constexpr std::uint32_t kSubgroupTags[] = {1837, 1839, 3031, 1840, 812, 1845};

} // namespace

Outcome handleLinkGroups(CallContext& ctx) {
    std::string error;
    Conditions cond;
    if (!parseConditions(ctx.request, cond, error))
        return fail(proto::kStatusBadRequest, error);
    return streamOutcome(ctx, ctx.store->streamLinkGroups(ctx.session.op, cond, kGroupTags, ctx.reply, error),
                         error);
}

Outcome handleLinkSubgroups(CallContext& ctx) {
    std::string error;
    Conditions cond;
    if (!parseConditions(ctx.request, cond, error))
        return fail(proto::kStatusBadRequest, error);
    return streamOutcome(
        ctx, ctx.store->streamLinkSubgroups(ctx.session.op, cond, kSubgroupTags, ctx.reply, error), error);
}

} // namespace orvo::server
