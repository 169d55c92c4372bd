#include "server/store/CachedRows.h"

#include <algorithm>
#include <vector>

namespace orvo::server {

StreamEnd sendListedRows(RowCache& cache, int category, std::span<const ListedRow> rows, ReplyWriter& reply,
                         const FetchRows& fetch, std::string& error) {
    const auto addRow = [&reply](std::string_view items) { reply.addEncodedRow(items); };
    // Up to the first row the cache lacks, rows go straight into the reply.
    std::size_t first = 0;
    for (; first < rows.size(); ++first) {
        if (!cache.withCurrent({category, rows[first].serial}, rows[first].rev, addRow))
            break;
        if (!reply.flushIfFull())
            return StreamEnd::SinkFailed;
    }
    if (first == rows.size())
        return StreamEnd::Done;

    // From there on, rows wait for the fetch to keep their order. Those the cache holds are copied aside
    // now: another worker may push them out before their turn.
    const std::span<const ListedRow> rest = rows.subspan(first);
    constexpr std::size_t kAbsent = SIZE_MAX;
    struct Held {
        std::size_t at = kAbsent, size = 0;
    };
    std::vector<Held> held(rest.size());
    std::string bytes;
    std::vector<std::int64_t> missing;
    std::vector<std::size_t> missingAt;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const bool found =
            cache.withCurrent({category, rest[i].serial}, rest[i].rev, [&](std::string_view items) {
                held[i] = {bytes.size(), items.size()};
                bytes.append(items);
            });
        if (!found) {
            missing.push_back(rest[i].serial);
            missingAt.push_back(i);
        }
    }
    const bool fetched = fetch(
        missing,
        [&](std::int64_t serial, std::int64_t rev, std::string_view items) {
            const auto it = std::lower_bound(missing.begin(), missing.end(), serial);
            if (it == missing.end() || *it != serial)
                return;
            held[missingAt[static_cast<std::size_t>(it - missing.begin())]] = {bytes.size(), items.size()};
            bytes.append(items);
            cache.store({category, serial}, rev, items);
        },
        error);
    if (!fetched)
        return StreamEnd::DatabaseError;
    // A row gone between listing and fetch (not within one snapshot) is left out, as if never listed.
    for (const Held& row : held) {
        if (row.at == kAbsent)
            continue;
        reply.addEncodedRow(std::string_view(bytes).substr(row.at, row.size));
        if (!reply.flushIfFull())
            return StreamEnd::SinkFailed;
    }
    return StreamEnd::Done;
}

} // namespace orvo::server
