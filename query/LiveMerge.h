// Puts the rows of a changes reply into the record set a list shows, in place: a held row whose key comes
// again takes the new cells, a key not held is appended, a key that left is removed. What changed is
// returned in the form the list needs to follow without sorting again.
#pragma once

#include "host/gui/ListRowOrder.h"

#include <vector>

class CMemRecord;

struct LiveMergeResult {
    orvo::ListRowOrder::RowChanges changes; // for COrvoListCtrl::ApplyRowChanges
    std::vector<long> changedRows;          // record rows after the merge whose cells changed
    std::vector<long> addedRows;            // record rows after the merge that are new
    long Count() const {
        return static_cast<long>(changedRows.size() + addedRows.size() + changes.removed.size());
    }
};

// `held` and `incoming` have the same layout; keyField is an integer-valued column of it (the serial).
// A row that comes again with the very same cells counts as no change. incomingIsWhole: `incoming` is the
// whole list, so held rows it lacks are removed too. Where the keys do not name the rows one to one (a
// key twice, or 0) a whole list replaces every held row.
LiveMergeResult MergeLiveRows(CMemRecord& held, const CMemRecord& incoming, int keyField,
                              const std::vector<long>& leftKeys, bool incomingIsWhole);
