// A live refresh's merge: 1,000 changes (800 rows changed, 100 new, 100 left) put into 100,040 stop-loss /
// take-profit rows sorted by the order price and filtered by a customer text, in place, with the list's
// line order brought up to date without sorting again. The figure is the CPU time of the merge and the
// order's update together; for comparison, the full sort and filter of the same rows.
#include "host/dbm/MemRecord.h"
#include "host/gui/ListRowOrder.h"
#include "query/LiveMerge.h"
#include "query/RuleRecordLayouts.h"

#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr long kRows = 100040;
constexpr long kChanged = 800, kAdded = 100, kLeft = 100;

void FillRow(CMemRecord& rec, long row, long serial, long variant) {
    rec.SetFieldLong(rec.FindField("LSH"), serial, static_cast<int>(row));
    rec.SetFieldLong(rec.FindField(GBK("流水号")), serial, static_cast<int>(row));
    const std::string customer = (serial % 3 ? "0101" : "0202") + std::to_string(100000 + serial % 5000);
    rec.SetFieldText(rec.FindField(GBK("客户号")), customer, static_cast<int>(row));
    rec.SetFieldText(rec.FindField("KHH"), customer, static_cast<int>(row));
    rec.SetFieldText(rec.FindField(GBK("委价")),
                     std::to_string(3000 + (serial * 7919 + variant) % 2000) + ".5", static_cast<int>(row));
    rec.SetFieldLong(rec.FindField(GBK("委手")), (serial + variant) % 9 + 1, static_cast<int>(row));
    rec.SetFieldText(rec.FindField(GBK("合约")), "rb2605", static_cast<int>(row));
}

CMemRecord HeldRows() {
    CMemRecord rec;
    rec.Create(GetRuleLayout(KIND_STOP_PROFIT), RULE_RECORD_FLAGS);
    rec.Append(nullptr, static_cast<int>(kRows));
    for (long row = 0; row < kRows; ++row)
        FillRow(rec, row, 1000 + row, 0);
    return rec;
}

CMemRecord IncomingRows(std::vector<long>& left) {
    CMemRecord rec;
    rec.Create(GetRuleLayout(KIND_STOP_PROFIT), RULE_RECORD_FLAGS);
    rec.Append(nullptr, static_cast<int>(kChanged + kAdded));
    for (long i = 0; i < kChanged; ++i) // spread over the whole set
        FillRow(rec, i, 1000 + i * (kRows / kChanged), 1);
    for (long i = 0; i < kAdded; ++i)
        FillRow(rec, kChanged + i, 1000 + kRows + i, 0);
    for (long i = 0; i < kLeft; ++i)
        left.push_back(1000 + 37 + i * (kRows / kLeft));
    return rec;
}

orvo::ListRowOrder SortedFiltered(const CMemRecord& rec) {
    orvo::ListRowOrder order;
    order.SetSort(rec.FindField(GBK("委价")), true);
    order.Rebuild(rec);
    std::vector<int> columns;
    for (int c = 0; c < 18; ++c)
        columns.push_back(c);
    order.SetFilter(rec, "0101", columns);
    return order;
}

void BM_LiveMerge1000Into100040(benchmark::State& state) {
    const CMemRecord base = HeldRows();
    std::vector<long> left;
    const CMemRecord incoming = IncomingRows(left);
    const orvo::ListRowOrder baseOrder = SortedFiltered(base);
    long shown = 0;
    // Copied and destroyed outside the timed part: only the merge is measured.
    std::optional<CMemRecord> held;
    std::optional<orvo::ListRowOrder> order;
    for (auto _ : state) {
        state.PauseTiming();
        held.reset();
        order.reset();
        held.emplace(base);
        order.emplace(baseOrder);
        state.ResumeTiming();
        const LiveMergeResult merged = MergeLiveRows(*held, incoming, held->FindField("LSH"), left, false);
        order->ApplyChanges(*held, merged.changes);
        shown = order->Count();
        benchmark::DoNotOptimize(shown);
    }
    state.counters["rows_shown"] = static_cast<double>(shown);
}
BENCHMARK(BM_LiveMerge1000Into100040)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_FullSortAndFilterOf100040(benchmark::State& state) {
    const CMemRecord base = HeldRows();
    for (auto _ : state) {
        orvo::ListRowOrder order = SortedFiltered(base);
        benchmark::DoNotOptimize(order.Count());
    }
}
BENCHMARK(BM_FullSortAndFilterOf100040)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

BENCHMARK_MAIN();
