// Filling and walking a record set of the stop-loss layout (25 columns), side by side with a plain vector of
// structs holding the same values: the record set's time and memory per row against that limit.
#include "host/dbm/MemRecord.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr long kRows = 100000;

constexpr const char* kStopLayout =
    "流水号[I],客户号[C12],姓名[C16],状态说明[C20],触发状态[C20],合约[C16],买卖[C4],委手[I],委价[R10.2],"
    "盈触价[C14],盈委价[C14],盈触点数[I],损触价[C14],损委价[C14],损触点数[I],设置时间[C10],设置日期[C10],"
    "有效日期[C10],color[I],KHH[C12],LSH[I],CFZT[I],WTDLB[I],WTRQ[C10],YXRQ[C10]";

// Column names as GBK, converted once; the query code passes names the same way.
struct Names {
    CString lsh = GBK("流水号"), khh = GBK("客户号"), xm = GBK("姓名"), ztsm = GBK("状态说明"),
            cfzt = GBK("触发状态"), hy = GBK("合约"), mm = GBK("买卖"), ws = GBK("委手"), wj = GBK("委价"),
            yc = GBK("盈触价"), yw = GBK("盈委价"), ycd = GBK("盈触点数"), sc = GBK("损触价"),
            sw = GBK("损委价"), scd = GBK("损触点数"), sj = GBK("设置时间"), rq = GBK("设置日期"),
            yx = GBK("有效日期");
};

// The values of one reply row, as the channel hands them over (text, some of it GBK beyond 15 bytes).
struct RowValues {
    CString customer = "010100000123", name = GBK("欧阳明辉"), status = GBK("已触发，等待成交"),
            trigger = GBK("价格触发"), contract = "cu2501", side = GBK("买入"), price = "68250.00",
            profitTrigger = "69000.00", profitPrice = "69010.00", lossTrigger = "67000.00",
            lossPrice = "66990.00", time = "09:31:15", date = "2026.12.07", validUntil = "2026.12.31";
};

struct PlainRow {
    long lsh, ws, ycd, scd, color, lsh2, cfzt, wtdlb;
    double wj;
    std::string khh, xm, ztsm, cfztText, hy, mm, yc, yw, sc, sw, sj, rq, yx, khh2, wtrq, yxrq;
};

// Small blocks come from the heap arena, large ones (the vectors) are mapped on their own: count both.
std::size_t heapInUse() {
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void fill(CMemRecord& set, const Names& n, const RowValues& v) {
    set.Zap();
    for (long i = 0; i < kRows; ++i) {
        set.Append(nullptr, 1);
        set.Set(n.lsh, i);
        set.Set(n.khh, v.customer);
        set.Set(n.xm, v.name);
        set.Set(n.ztsm, v.status);
        set.Set(n.cfzt, v.trigger);
        set.Set(n.hy, v.contract);
        set.Set(n.mm, v.side);
        set.Set(n.ws, 5L);
        set.Set(n.wj, v.price);
        set.Set(n.yc, v.profitTrigger);
        set.Set(n.yw, v.profitPrice);
        set.Set(n.ycd, 10L);
        set.Set(n.sc, v.lossTrigger);
        set.Set(n.sw, v.lossPrice);
        set.Set(n.scd, 12L);
        set.Set(n.sj, v.time);
        set.Set(n.rq, v.date);
        set.Set(n.yx, v.validUntil);
        set.Set("color", 0L);
        set.Set("KHH", v.customer);
        set.Set("LSH", i);
        set.Set("CFZT", 1L);
        set.Set("WTDLB", 3L);
        set.Set("WTRQ", v.date);
        set.Set("YXRQ", v.validUntil);
    }
}

void fill(std::vector<PlainRow>& rows, const RowValues& v) {
    rows.clear();
    for (long i = 0; i < kRows; ++i) {
        PlainRow& r = rows.emplace_back();
        r.lsh = i;
        r.khh = v.customer.str();
        r.xm = v.name.str();
        r.ztsm = v.status.str();
        r.cfztText = v.trigger.str();
        r.hy = v.contract.str();
        r.mm = v.side.str();
        r.ws = 5;
        r.wj = 68250.0;
        r.yc = v.profitTrigger.str();
        r.yw = v.profitPrice.str();
        r.ycd = 10;
        r.sc = v.lossTrigger.str();
        r.sw = v.lossPrice.str();
        r.scd = 12;
        r.sj = v.time.str();
        r.rq = v.date.str();
        r.yx = v.validUntil.str();
        r.color = 0;
        r.khh2 = v.customer.str();
        r.lsh2 = i;
        r.cfzt = 1;
        r.wtdlb = 3;
        r.wtrq = v.date.str();
        r.yxrq = v.validUntil.str();
    }
}

void setCounters(benchmark::State& state, std::size_t bytes) {
    state.counters["ns_per_row"] =
        benchmark::Counter(static_cast<double>(kRows),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["bytes_per_row"] = static_cast<double>(bytes) / kRows;
}

void BM_RecordSet_Fill(benchmark::State& state) {
    const Names names;
    const RowValues values;
    std::size_t bytes = 0;
    for (auto _ : state) {
        CMemRecord set;
        set.Create(CString::FromUtf8(kStopLayout));
        const std::size_t before = heapInUse();
        fill(set, names, values);
        bytes = heapInUse() - before;
        benchmark::DoNotOptimize(set.GetRecordCount());
        state.PauseTiming();
        set.Zap();
        state.ResumeTiming();
    }
    setCounters(state, bytes);
}

// A refreshed list's set: a new set filled while the one shown stays, then put in its place, and the one
// shown before let go. Timed: the filling and the letting go (the window does the latter after its paint).
void BM_RecordSet_FillReplacingTheShownSet(benchmark::State& state) {
    const Names names;
    const RowValues values;
    CMemRecord shown;
    shown.Create(CString::FromUtf8(kStopLayout));
    fill(shown, names, values);
    for (auto _ : state) {
        auto fresh = std::make_unique<CMemRecord>();
        fresh->Create(CString::FromUtf8(kStopLayout));
        fill(*fresh, names, values);
        shown.Swap(*fresh);
        fresh.reset();
        benchmark::DoNotOptimize(shown.GetRecordCount());
    }
    setCounters(state, 0);
}

// The same after the memory kept for the next sets has gone back to the system, as when the window has
// been idle a while: the new set maps its memory afresh and faults in its pages (the whole process's
// minor faults are counted, as a thread mapping ahead faults them in).
void BM_RecordSet_FillIntoFreshMemory(benchmark::State& state) {
    const Names names;
    const RowValues values;
    CMemRecord shown;
    shown.Create(CString::FromUtf8(kStopLayout));
    fill(shown, names, values);
    long faults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ReleaseSpareRecordMemory();
        auto fresh = std::make_unique<CMemRecord>();
        fresh->Create(CString::FromUtf8(kStopLayout));
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        state.ResumeTiming();
        fill(*fresh, names, values);
        state.PauseTiming();
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        faults += after.ru_minflt - before.ru_minflt;
        fresh.reset();
        state.ResumeTiming();
    }
    setCounters(state, 0);
    state.counters["minor_faults"] = static_cast<double>(faults) / static_cast<double>(state.iterations());
}

// The same rows as the stop-loss query writes them: columns resolved once, each row's cells in one
// SetFields call, into a set refilled in place (its rows stay built between queries).
void BM_RecordSet_FillByRow(benchmark::State& state) {
    const Names n;
    const RowValues v;
    CMemRecord set;
    set.Create(CString::FromUtf8(kStopLayout));
    const auto column = [&set](const char* name) { return set.FindField(name); };
    const int lsh = column(n.lsh), khh = column(n.khh), xm = column(n.xm), ztsm = column(n.ztsm),
              cfzt = column(n.cfzt), hy = column(n.hy), mm = column(n.mm), ws = column(n.ws),
              wj = column(n.wj), yc = column(n.yc), yw = column(n.yw), ycd = column(n.ycd), sc = column(n.sc),
              sw = column(n.sw), scd = column(n.scd), sj = column(n.sj), rq = column(n.rq), yx = column(n.yx),
              color = column("color"), khh2 = column("KHH"), lsh2 = column("LSH"), cfzt2 = column("CFZT"),
              wtdlb = column("WTDLB"), wtrq = column("WTRQ"), yxrq = column("YXRQ");
    using W = FieldWrite;
    for (auto _ : state) {
        set.Zap();
        for (long i = 0; i < kRows; ++i) {
            set.Append(nullptr, 1);
            const FieldWrite row[] = {W::Long(lsh, i),
                                      W::Text(khh, v.customer.view()),
                                      W::Text(xm, v.name.view()),
                                      W::Text(ztsm, v.status.view()),
                                      W::Text(cfzt, v.trigger.view()),
                                      W::Text(hy, v.contract.view()),
                                      W::Text(mm, v.side.view()),
                                      W::Long(ws, 5),
                                      W::Text(wj, v.price.view()),
                                      W::Text(yc, v.profitTrigger.view()),
                                      W::Text(yw, v.profitPrice.view()),
                                      W::Long(ycd, 10),
                                      W::Text(sc, v.lossTrigger.view()),
                                      W::Text(sw, v.lossPrice.view()),
                                      W::Long(scd, 12),
                                      W::Text(sj, v.time.view()),
                                      W::Text(rq, v.date.view()),
                                      W::Text(yx, v.validUntil.view()),
                                      W::Long(color, 0),
                                      W::Text(khh2, v.customer.view()),
                                      W::Long(lsh2, i),
                                      W::Long(cfzt2, 1),
                                      W::Long(wtdlb, 3),
                                      W::Text(wtrq, v.date.view()),
                                      W::Text(yxrq, v.validUntil.view())};
            set.SetFields(row);
        }
        benchmark::DoNotOptimize(set.GetRecordCount());
    }
    setCounters(state, 0);
}

void BM_PlainVector_Fill(benchmark::State& state) {
    const RowValues values;
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::vector<PlainRow> rows;
        const std::size_t before = heapInUse();
        fill(rows, values);
        bytes = heapInUse() - before;
        benchmark::DoNotOptimize(rows.data());
        state.PauseTiming();
        rows = {};
        state.ResumeTiming();
    }
    setCounters(state, bytes);
}

std::size_t walk(CMemRecord& set, const Names& n) {
    long sum = 0;
    std::size_t bytes = 0;
    for (set.GoTop(); !set.Eof(); set.Skip(1)) {
        sum += set.GetLong(n.lsh) + set.GetLong(n.ws) + set.GetLong(n.ycd) + set.GetLong(n.scd) +
               set.GetLong("color") + set.GetLong("LSH") + set.GetLong("CFZT") + set.GetLong("WTDLB");
        sum += static_cast<long>(set.GetDouble(n.wj));
        for (const CString* text :
             {&n.khh, &n.xm, &n.ztsm, &n.cfzt, &n.hy, &n.mm, &n.yc, &n.yw, &n.sc, &n.sw, &n.sj, &n.rq, &n.yx})
            bytes += set.GetString(*text).str().size();
        for (const char* text : {"KHH", "WTRQ", "YXRQ"})
            bytes += set.GetString(text).str().size();
    }
    return bytes + static_cast<std::size_t>(sum);
}

std::size_t walk(const std::vector<PlainRow>& rows) {
    long sum = 0;
    std::size_t bytes = 0;
    for (const PlainRow& r : rows) {
        sum += r.lsh + r.ws + r.ycd + r.scd + r.color + r.lsh2 + r.cfzt + r.wtdlb;
        sum += static_cast<long>(r.wj);
        for (const std::string* text : {&r.khh, &r.xm, &r.ztsm, &r.cfztText, &r.hy, &r.mm, &r.yc, &r.yw,
                                        &r.sc, &r.sw, &r.sj, &r.rq, &r.yx, &r.khh2, &r.wtrq, &r.yxrq})
            bytes += std::string(*text).size(); // a copy, as GetString hands out
    }
    return bytes + static_cast<std::size_t>(sum);
}

void BM_RecordSet_Walk(benchmark::State& state) {
    const Names n;
    CMemRecord set;
    set.Create(CString::FromUtf8(kStopLayout));
    fill(set, n, RowValues{});
    for (auto _ : state)
        benchmark::DoNotOptimize(walk(set, n));
    setCounters(state, 0);
}

void BM_PlainVector_Walk(benchmark::State& state) {
    std::vector<PlainRow> rows;
    fill(rows, RowValues{});
    for (auto _ : state)
        benchmark::DoNotOptimize(walk(rows));
    setCounters(state, 0);
}

// The whole job as the issue measures it: fill, then walk reading every column.
void BM_RecordSet_FillAndWalk(benchmark::State& state) {
    const Names names;
    const RowValues values;
    std::size_t bytes = 0;
    for (auto _ : state) {
        CMemRecord set;
        set.Create(CString::FromUtf8(kStopLayout));
        const std::size_t before = heapInUse();
        fill(set, names, values);
        bytes = heapInUse() - before;
        benchmark::DoNotOptimize(walk(set, names));
        state.PauseTiming();
        set.Zap();
        state.ResumeTiming();
    }
    setCounters(state, bytes);
}

void BM_PlainVector_FillAndWalk(benchmark::State& state) {
    const RowValues values;
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::vector<PlainRow> rows;
        const std::size_t before = heapInUse();
        fill(rows, values);
        bytes = heapInUse() - before;
        benchmark::DoNotOptimize(walk(rows));
        state.PauseTiming();
        rows = {};
        state.ResumeTiming();
    }
    setCounters(state, bytes);
}

BENCHMARK(BM_RecordSet_Fill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordSet_FillByRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordSet_FillReplacingTheShownSet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordSet_FillIntoFreshMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainVector_Fill)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordSet_Walk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainVector_Walk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordSet_FillAndWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainVector_FillAndWalk)->Unit(benchmark::kMillisecond);

} // namespace
