#include "server/store/CachedRows.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace orvo::server {

void sortBySerial(std::vector<ListedRow>& rows) {
    constexpr std::size_t kFew = 64;
    if (rows.size() < kFew) {
        std::sort(rows.begin(), rows.end(),
                  [](const ListedRow& a, const ListedRow& b) { return a.serial < b.serial; });
        return;
    }
    const auto [low, high] = std::minmax_element(
        rows.begin(), rows.end(), [](const ListedRow& a, const ListedRow& b) { return a.serial < b.serial; });
    const auto base = static_cast<std::uint64_t>(low->serial);
    const std::uint64_t span = static_cast<std::uint64_t>(high->serial) - base;
    const auto offsetOf = [base](const ListedRow& row) {
        return static_cast<std::uint64_t>(row.serial) - base;
    };
    // Stable passes from the lowest digit up, as many as the span needs: two for 100,000 serials.
    constexpr unsigned kDigitBits = 11;
    constexpr std::size_t kDigits = std::size_t{1} << kDigitBits;
    std::vector<ListedRow> sorted(rows.size());
    for (unsigned shift = 0; shift < 64 && (span >> shift) != 0; shift += kDigitBits) {
        std::array<std::size_t, kDigits> next{};
        for (const ListedRow& row : rows)
            ++next[(offsetOf(row) >> shift) & (kDigits - 1)];
        std::size_t at = 0;
        for (std::size_t& slot : next)
            at += std::exchange(slot, at);
        for (const ListedRow& row : rows)
            sorted[next[(offsetOf(row) >> shift) & (kDigits - 1)]++] = row;
        rows.swap(sorted);
    }
}

StreamEnd sendListedRows(RowCache& cache, int category, std::span<const ListedRow> rows,
                         const ReplyStamp& stamp, ReplyWriter& reply, const FetchRows& fetch,
                         std::string& error) {
    // Up to the first row the cache lacks, rows go straight into the reply. From there on, rows wait for
    // the fetch to keep their order: those the cache holds are copied aside, as another worker may push
    // them out before their turn.
    constexpr std::size_t kAbsent = SIZE_MAX;
    struct Held {
        std::size_t at = kAbsent, size = 0;
    };
    std::size_t sent = 0; // rows sent straight, all of them before the first row the cache lacks
    std::vector<Held> held;
    std::string bytes;
    cache.readBatch(
        category, rows,
        [&](std::size_t i, std::string_view items) {
            if (i == sent) { // no row missing before it
                reply.addEncodedRow(items);
                ++sent;
                return;
            }
            if (held.empty())
                held.resize(rows.size() - sent);
            held[i - sent] = {bytes.size(), items.size()};
            bytes.append(items);
        },
        stamp.names);
    if (!reply.flushIfFull())
        return StreamEnd::SinkFailed;
    if (sent == rows.size())
        return StreamEnd::Done;
    if (held.empty())
        held.resize(rows.size() - sent);

    const std::span<const ListedRow> rest = rows.subspan(sent);
    std::vector<std::int64_t> missing;
    std::vector<std::size_t> missingAt;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (held[i].at == kAbsent) {
            missing.push_back(rest[i].serial);
            missingAt.push_back(i);
        }
    }
    // Rows fetched are kept together once the fetch is done, their items read where `bytes` holds them.
    struct Fetched {
        std::int64_t serial, rev;
        Held items;
    };
    std::vector<Fetched> fetchedRows;
    fetchedRows.reserve(missing.size());
    const bool fetched = fetch(
        missing,
        [&](std::int64_t serial, std::int64_t rev, std::string_view items) {
            const auto it = std::lower_bound(missing.begin(), missing.end(), serial);
            if (it == missing.end() || *it != serial)
                return;
            const Held at{bytes.size(), items.size()};
            held[missingAt[static_cast<std::size_t>(it - missing.begin())]] = at;
            fetchedRows.push_back({serial, rev, at});
            bytes.append(items);
        },
        error);
    if (!fetched)
        return StreamEnd::DatabaseError;
    std::vector<KeptRow> kept;
    kept.reserve(fetchedRows.size());
    for (const Fetched& row : fetchedRows)
        kept.push_back({row.serial, row.rev, std::string_view(bytes).substr(row.items.at, row.items.size)});
    cache.storeBatch(category, kept, stamp);
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
