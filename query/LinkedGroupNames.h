// The groups ("小组") and sub-groups ("分组") of linked orders, loaded from the server for one linked-order
// query and indexed once, so that naming each rule row costs a hash look-up rather than a walk of the sets.
#pragma once

#include "host/dbm/MemRecord.h"
#include "platform/CString.h"

#include <cstddef>
#include <functional>
#include <unordered_map>
#include <utility>

class CFixComm;

class CLinkedGroupNames {
public:
    CLinkedGroupNames();

    // Requests 16425 (groups) then 16433 (sub-groups), neither with items, each read to its end, and
    // indexes the rows. An empty or failed reply only leaves its names empty.
    void Load(CFixComm& fix);

    // Name ("XZMC") of the first group row with that number, as Locate would find it; "" when none.
    CString GroupName(long group) const;
    // Name ("FZJC") of the last sub-group row with both numbers; "" when none or when subGroup <= 0.
    CString SubGroupName(long group, long subGroup) const;

    const CMemRecord& Groups() const { return m_recGroups; }
    const CMemRecord& SubGroups() const { return m_recSubGroups; }

private:
    void LoadGroups(CFixComm& fix);
    void LoadSubGroups(CFixComm& fix);
    void BuildIndexes();

    struct PairHash {
        size_t operator()(const std::pair<long, long>& key) const {
            return std::hash<long>()(key.first) * 1000003u ^ std::hash<long>()(key.second);
        }
    };

    CMemRecord m_recGroups;
    CMemRecord m_recSubGroups;
    std::unordered_map<long, CString> m_groupNames;
    std::unordered_map<std::pair<long, long>, CString, PairHash> m_subGroupNames;
};
