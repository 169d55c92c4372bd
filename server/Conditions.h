// The query conditions a request may carry. A store applies them together with the operator's own
// permissions, whatever the request asks.
#pragma once

#include "server/Dates.h" // isDate: the date items are real calendar dates
#include "server/Operator.h"
#include "server/Request.h"

#include <string>
#include <vector>

namespace orvo::server {

// Request tags of the conditions.
inline constexpr std::uint32_t kTagBranch = 697;
inline constexpr std::uint32_t kTagGroup = 610;
inline constexpr std::uint32_t kTagCustomer = 605;
inline constexpr std::uint32_t kTagExchange = 599;
inline constexpr std::uint32_t kTagVariety = 720;
inline constexpr std::uint32_t kTagContract = 719;
inline constexpr std::uint32_t kTagValidity = 9020;
inline constexpr std::uint32_t kTagBeginDate = 618;
inline constexpr std::uint32_t kTagEndDate = 590;
inline constexpr std::uint32_t kTagCategory = 1842;

inline constexpr std::size_t kMaxCodeBytes = 64; // one code or condition text
inline constexpr std::size_t kMaxBranchListBytes = 4096;
inline constexpr std::size_t kMaxBranchCodes = 256;

enum class Validity { Any, Valid, Expired };

struct Conditions {
    std::vector<std::string> branches;                        // empty: every branch the operator may see
    std::string group, customer, exchange, variety, contract; // empty: no condition
    Validity validity = Validity::Any;
    std::string beginDate, endDate; // only with Expired; empty: open-ended
};

// Reads 697, 610, 605, 599, 720, 719, 9020, 618 and 590. False with a reason for a value that is too
// long, not GBK, a validity other than "", "0" or "1", or a date not in "YYYY.MM.DD" form.
bool parseConditions(const Request& request, Conditions& cond, std::string& error);

// Whether the operator's permissions or the conditions leave out some customers.
bool restrictsCustomers(const Operator& op, const Conditions& cond);

} // namespace orvo::server
