#include "server/store/Conditions.h"

namespace orvo::server {
bool restrictsCustomers(const Operator& op, const Conditions& cond) {
    return !op.allBranches || !op.allGroups || !cond.branches.empty() || !cond.group.empty() ||
           !cond.customer.empty();
}

} // namespace orvo::server
