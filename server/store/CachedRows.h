// A rule reply fed from the row cache. The back-end lists the rows the query selects, in reply order,
// by serial and revision only; rows the cache holds at that revision go out as they were encoded, and
// the back-end reads and encodes the others in full (in the listing's snapshot), which the cache then
// keeps. A batch of rows waits at most for one fetch, so a reply never needs more memory than a batch.
#pragma once

#include "server/store/ReplyWriter.h"
#include "server/store/RowCache.h"
#include "server/store/Store.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server {

// Rows listed per batch: large enough that a fetch's cost is spread, small enough to hold.
inline constexpr std::size_t kListedBatchRows = 512;

// Hands each row of `serials` (ascending, distinct) that still exists to deliver, encoded. Rows may come
// in any order; false (error set) when the database fails.
using RowDelivery = std::function<void(std::int64_t serial, std::int64_t rev, std::string_view items)>;
using FetchRows = std::function<bool(std::span<const std::int64_t> serials, const RowDelivery& deliver,
                                     std::string& error)>;

// Puts rows listed in another order (customer by customer) in serial order: a radix sort over the span
// of their serials, a fraction of a comparison sort's time for the thousands of rows one operator's
// customers have.
void sortBySerial(std::vector<ListedRow>& rows);

// Sends the batch's rows in order: from the cache where it holds them current (at the stamp's names
// revision), the rest fetched and kept as the stamp allows.
StreamEnd sendListedRows(RowCache& cache, int category, std::span<const ListedRow> rows,
                         const ReplyStamp& stamp, ReplyWriter& reply, const FetchRows& fetch,
                         std::string& error);

} // namespace orvo::server
