#include "server/functions/ConditionItems.h"

#include "server/common/Dates.h" // isDate: the date items are real calendar dates

namespace orvo::server {
namespace {

bool readCondition(const Request& request, std::uint32_t tag, std::string& out, std::string& error) {
    bool present = false;
    return readText(request, tag, kMaxCodeBytes, out, present, error);
}

} // namespace

bool parseConditions(const Request& request, Conditions& cond, std::string& error) {
    cond = Conditions{};
    std::string branchText;
    bool present = false;
    if (!readText(request, kTagBranch, kMaxBranchListBytes, branchText, present, error))
        return false;
    cond.branches = splitCodes(branchText);
    if (cond.branches.size() > kMaxBranchCodes) {
        error = "item 697 lists more than " + std::to_string(kMaxBranchCodes) + " branches";
        return false;
    }
    if (!readCondition(request, kTagGroup, cond.group, error) ||
        !readCondition(request, kTagCustomer, cond.customer, error) ||
        !readCondition(request, kTagExchange, cond.exchange, error) ||
        !readCondition(request, kTagVariety, cond.variety, error) ||
        !readCondition(request, kTagContract, cond.contract, error))
        return false;

    std::string validity;
    if (!readCondition(request, kTagValidity, validity, error))
        return false;
    if (validity.empty()) {
        cond.validity = Validity::Any;
    } else if (validity == "0") {
        cond.validity = Validity::Valid;
    } else if (validity == "1") {
        cond.validity = Validity::Expired;
    } else {
        error = "item 9020 must be 0 (within validity), 1 (expired) or empty";
        return false;
    }
    if (cond.validity == Validity::Expired) {
        if (!readCondition(request, kTagBeginDate, cond.beginDate, error) ||
            !readCondition(request, kTagEndDate, cond.endDate, error))
            return false;
        if ((!cond.beginDate.empty() && !isDate(cond.beginDate)) ||
            (!cond.endDate.empty() && !isDate(cond.endDate))) {
            error = "dates in items 618 and 590 must be YYYY.MM.DD";
            return false;
        }
    }
    return true;
}

} // namespace orvo::server
