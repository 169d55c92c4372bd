// The condition items of a query request (branch, group, customer, exchange, variety, contract,
// validity and dates): their tags, their limits, and their parsing into the conditions a store applies.
#pragma once

#include "server/functions/Request.h"
#include "server/store/Conditions.h"

#include <cstddef>
#include <cstdint>
#include <string>

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

// Reads 697, 610, 605, 599, 720, 719, 9020, 618 and 590. False with a reason for a value that is too
// long, not GBK, a validity other than "", "0" or "1", or a date not in "YYYY.MM.DD" form.
bool parseConditions(const Request& request, Conditions& cond, std::string& error);

} // namespace orvo::server
