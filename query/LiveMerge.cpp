#include "query/LiveMerge.h"

#include "host/dbm/MemRecord.h"

#include <unordered_map>
#include <unordered_set>

namespace {

// key -> the incoming row holding it (the last one when a key comes twice); false when the keys are not
// one to one.
bool IndexRows(const CMemRecord& record, int keyField, std::unordered_map<long, long>& index) {
    bool unique = true;
    const long count = record.GetRecordCount();
    index.reserve(static_cast<std::size_t>(count));
    for (long row = 0; row < count; ++row) {
        const long key = record.GetCellLong(row, keyField);
        unique = unique && key != 0;
        unique = index.insert_or_assign(key, row).second && unique;
    }
    return unique;
}

} // namespace

LiveMergeResult MergeLiveRows(CMemRecord& held, const CMemRecord& incoming, int keyField,
                              const std::vector<long>& leftKeys, bool incomingIsWhole) {
    LiveMergeResult result;
    std::unordered_map<long, long> fresh;
    const bool oneToOne = IndexRows(incoming, keyField, fresh);
    const std::unordered_set<long> leaving(leftKeys.begin(), leftKeys.end());
    std::vector<bool> used(static_cast<std::size_t>(incoming.GetRecordCount()), false);
    const long heldCount = held.GetRecordCount();
    std::vector<long> changedBefore; // record rows before the removal
    std::unordered_set<long> heldKeys;
    bool heldOneToOne = true;
    // The low bits of every key that comes or leaves: most held rows are passed over by one bit test,
    // without a hash look-up.
    constexpr long kSieveBits = 1L << 16;
    std::vector<bool> sieve(static_cast<std::size_t>(kSieveBits), false);
    for (const auto& entry : fresh)
        sieve[static_cast<std::size_t>(entry.first & (kSieveBits - 1))] = true;
    for (const long key : leftKeys)
        sieve[static_cast<std::size_t>(key & (kSieveBits - 1))] = true;
    // One pass over the held rows, no sort.
    for (long row = 0; row < heldCount; ++row) {
        const long key = held.GetCellLong(row, keyField);
        if (!incomingIsWhole && !sieve[static_cast<std::size_t>(key & (kSieveBits - 1))])
            continue;
        if (incomingIsWhole)
            heldOneToOne = heldOneToOne && key != 0 && heldKeys.insert(key).second;
        if (leaving.contains(key)) {
            result.changes.removed.push_back(row);
            continue;
        }
        const auto found = fresh.find(key);
        if (found == fresh.end() || (incomingIsWhole && !oneToOne)) {
            if (incomingIsWhole)
                result.changes.removed.push_back(row);
            continue;
        }
        used[static_cast<std::size_t>(found->second)] = true;
        if (held.SameRow(row, incoming, found->second))
            continue;
        held.CopyRow(row, incoming, found->second);
        changedBefore.push_back(row);
    }
    if (incomingIsWhole && !heldOneToOne && oneToOne) {
        // Keys held twice: the copies above may have gone to the wrong row; replace the list outright.
        result = {};
        changedBefore.clear();
        std::fill(used.begin(), used.end(), false);
        for (long row = 0; row < heldCount; ++row)
            result.changes.removed.push_back(row);
    }
    held.DeleteRows(result.changes.removed);
    const std::vector<std::int32_t> remap =
        orvo::ListRowOrder::RowsAfterRemoval(heldCount, result.changes.removed);
    for (const long row : changedBefore)
        if (remap[static_cast<std::size_t>(row)] >= 0) {
            result.changes.changed.push_back(row);
            result.changedRows.push_back(remap[static_cast<std::size_t>(row)]);
        }
    for (long row = 0; row < incoming.GetRecordCount(); ++row) {
        const long key = incoming.GetCellLong(row, keyField);
        // A key that came twice is taken once, from its last row; one that left stays out.
        if (used[static_cast<std::size_t>(row)] || leaving.contains(key) ||
            (oneToOne ? false : !incomingIsWhole && fresh.at(key) != row))
            continue;
        if (!incomingIsWhole || oneToOne)
            used[static_cast<std::size_t>(row)] = true;
        held.Append(nullptr, 1);
        held.CopyRow(held.GetRecordCount() - 1, incoming, row);
        result.addedRows.push_back(held.GetRecordCount() - 1);
        ++result.changes.appended;
    }
    return result;
}
