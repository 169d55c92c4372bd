// Linked-order groups (16425) and their sub-groups (16433), limited to the customers the operator may
// see; the branch, group and customer conditions apply when a request carries them.
#include "server/Conditions.h"
#include "server/Functions.h"

#include "protocol/Header.h"

namespace orvo::server {
namespace {

constexpr std::uint32_t kGroupTags[] = {1837, 650, 605, 710, 697, 1844, 570};
constexpr std::uint32_t kSubgroupTags[] = {1837, 1839, 3031, 1840, 812, 1845};

Outcome runQuery(CallContext& ctx, SqlQuery& q, std::span<const std::uint32_t> tags) {
    std::string error;
    Statement stmt;
    if (!q.prepare(ctx.db, stmt, error))
        return fail(proto::kStatusInternal, "database error: " + error);
    return streamRows(ctx, stmt, tags);
}

} // namespace

Outcome handleLinkGroups(CallContext& ctx) {
    std::string error;
    Conditions cond;
    if (!parseConditions(ctx.request, cond, error))
        return fail(proto::kStatusBadRequest, error);
    SqlQuery q("SELECT g.xzbh, g.xzmc, g.khh, g.xzzt, g.yyb, g.qx, g.fwxm "
               "FROM link_groups g JOIN customers c ON c.khh = g.khh WHERE 1");
    filterCustomers(q, ctx.session.op, cond);
    q.sql(" ORDER BY g.xzbh");
    return runQuery(ctx, q, kGroupTags);
}

Outcome handleLinkSubgroups(CallContext& ctx) {
    std::string error;
    Conditions cond;
    if (!parseConditions(ctx.request, cond, error))
        return fail(proto::kStatusBadRequest, error);
    SqlQuery q("SELECT s.xzbh, s.fzbh, s.fzjc, s.xdfs, s.xgrq, s.xgsj FROM link_subgroups s "
               "JOIN link_groups g ON g.xzbh = s.xzbh JOIN customers c ON c.khh = g.khh WHERE 1");
    filterCustomers(q, ctx.session.op, cond);
    q.sql(" ORDER BY s.rowid");
    return runQuery(ctx, q, kSubgroupTags);
}

} // namespace orvo::server
