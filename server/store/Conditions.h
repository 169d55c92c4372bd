// The query conditions of a request, as a store reads them. A store applies them together with the operator's
// own permissions, whatever the request asks.
#pragma once

#include "server/store/Operator.h"

#include <string>
#include <vector>

namespace orvo::server {

enum class Validity { Any, Valid, Expired };

struct Conditions {
    std::vector<std::string> branches;                        // empty: every branch the operator may see
    std::string group, customer, exchange, variety, contract; // empty: no condition
    Validity validity = Validity::Any;
    std::string beginDate, endDate; // only with Expired; empty: open-ended
};

// Whether the operator's permissions or the conditions leave out some customers.
bool restrictsCustomers(const Operator& op, const Conditions& cond);

} // namespace orvo::server
