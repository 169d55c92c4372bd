// Sorting and filtering a list of 100,000 stop-loss / take-profit rows (the 25-column layout), and
// restoring a saved column layout. The sort and the filter only order the lines: the figures are the time
// of one sort (by a price column, by customer name) or one filter keystroke, the bytes each holds beside
// the record set afterwards (held_KiB), and the most heap it had in use at once while it ran (peak_KiB).
#include "host/dbm/MemRecord.h"
#include "host/gui/ListRowOrder.h"
#include "host/gui/OrvoListCtrl.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

// Heap bytes in use and their peak, counted by the global allocation functions of this program: the
// sort's and the filter's transient memory (keys, merge buffer) shows in the peak.
namespace heap {
std::atomic<std::size_t> inUse{0};
std::atomic<std::size_t> peak{0};
void ResetPeak() {
    peak = inUse.load();
}
} // namespace heap

void* operator new(std::size_t size) {
    void* p = std::malloc(size + sizeof(std::max_align_t));
    if (!p)
        throw std::bad_alloc();
    *static_cast<std::size_t*>(p) = size;
    const std::size_t now = heap::inUse += size;
    for (std::size_t old = heap::peak; now > old && !heap::peak.compare_exchange_weak(old, now);) {
    }
    return static_cast<char*>(p) + sizeof(std::max_align_t);
}
void operator delete(void* p) noexcept {
    if (!p)
        return;
    char* block = static_cast<char*>(p) - sizeof(std::max_align_t);
    heap::inUse -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

const char* kLayout =
    "流水号[I],客户号[C12],姓名[C16],状态说明[C20],触发状态[C20],合约[C16],买卖[C4],委手[I],"
    "委价[R10.2],盈触价[C14],盈委价[C14],盈触点数[I],损触价[C14],损委价[C14],损触点数[I],"
    "设置时间[C10],设置日期[C10],有效日期[C10],color[I],KHH[C12],LSH[I],CFZT[I],WTDLB[I],"
    "WTRQ[C10],YXRQ[C10]";
constexpr int kPriceColumn = 8;
constexpr int kNameColumn = 2;
constexpr long kRows = 100000;

// Rows as a counter hands them out: customers of many names, prices around 3,500, a few states.
const CMemRecord& stopLossRows() {
    static CMemRecord rec;
    static bool filled = false;
    if (filled)
        return rec;
    rec.Create(CString::FromUtf8(kLayout), 0);
    const char* surnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄",
                              "赵", "吴", "周", "徐", "孙", "马", "朱"};
    const char* given[] = {"伟", "芳", "娜", "敏", "静", "强", "磊", "军",
                           "洋", "勇", "艳", "杰", "涛", "明", "超"};
    std::vector<CString> names;
    for (const char* s : surnames)
        for (const char* g : given)
            for (const char* h : given)
                names.push_back(CString::FromUtf8(std::string(s) + g + h));
    const CString states[] = {CString::FromUtf8("已设置"), CString::FromUtf8("已触发"),
                              CString::FromUtf8("已撤销")};
    unsigned seed = 12345;
    const auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (long i = 0; i < kRows; ++i) {
        rec.Append(nullptr, 1);
        char customer[16], price[16], time[16];
        std::snprintf(customer, sizeof customer, "0101%08ld", static_cast<long>(next() % 40000));
        std::snprintf(price, sizeof price, "%.1f", 3000.0 + static_cast<double>(next() % 10000) / 10.0);
        std::snprintf(time, sizeof time, "%02u:%02u:%02u", next() % 24, next() % 60, next() % 60);
        rec.Set("LSH", i + 1);
        rec.Set(CString::FromUtf8("流水号"), i + 1);
        rec.Set(CString::FromUtf8("客户号"), customer);
        rec.Set(CString::FromUtf8("姓名"), names[next() % names.size()]);
        rec.Set(CString::FromUtf8("状态说明"), states[next() % 3]);
        rec.Set(CString::FromUtf8("合约"), "cu2501");
        rec.Set(CString::FromUtf8("委手"), static_cast<long>(1 + next() % 50));
        rec.Set(CString::FromUtf8("委价"), price);
        rec.Set(CString::FromUtf8("盈触价"), price);
        rec.Set(CString::FromUtf8("损触价"), price);
        rec.Set(CString::FromUtf8("设置时间"), time);
        rec.Set(CString::FromUtf8("设置日期"), "2026.12.07");
    }
    filled = true;
    return rec;
}

std::vector<int> shownColumns(const CMemRecord& rec) {
    std::vector<int> columns;
    for (int c = 0; c < rec.FindField("color"); ++c)
        columns.push_back(c);
    return columns;
}

void BM_Sort100k(benchmark::State& state) {
    const CMemRecord& rec = stopLossRows();
    orvo::ListRowOrder order;
    bool ascending = true;
    std::size_t peak = 0;
    for (auto _ : state) {
        order.SetSort(static_cast<int>(state.range(0)), ascending);
        const std::size_t before = heap::inUse;
        heap::ResetPeak();
        order.Rebuild(rec);
        peak = std::max(peak, heap::peak - before);
        ascending = !ascending;
        benchmark::DoNotOptimize(order.RecordRow(0));
    }
    state.counters["held_KiB"] = static_cast<double>(order.HeldBytes()) / 1024.0;
    state.counters["peak_KiB"] = static_cast<double>(peak) / 1024.0;
    state.SetLabel(state.range(0) == kPriceColumn ? "by price (委价)" : "by customer name (姓名)");
}

// One keystroke: the first character of a search over every row, and a character that narrows the rows
// the previous one kept.
void BM_FilterKeystroke100k(benchmark::State& state) {
    const CMemRecord& rec = stopLossRows();
    const bool narrow = state.range(0) == 1;
    orvo::ListRowOrder order;
    order.Rebuild(rec);
    std::size_t held = 0;
    std::size_t peak = 0;
    long kept = 0;
    for (auto _ : state) {
        state.PauseTiming();
        order.SetFilter(rec, "", shownColumns(rec));
        if (narrow)
            order.SetFilter(rec, "3", shownColumns(rec));
        std::vector<int> columns = shownColumns(rec);
        const std::size_t before = heap::inUse;
        heap::ResetPeak();
        state.ResumeTiming();
        order.SetFilter(rec,
                        narrow                ? "35"
                        : state.range(0) == 2 ? CString::FromUtf8("王").str()
                                              : "3",
                        std::move(columns));
        kept = order.Count();
        state.PauseTiming();
        held = std::max(held, order.HeldBytes());
        peak = std::max(peak, heap::peak - before);
        state.ResumeTiming();
    }
    state.counters["held_KiB"] = static_cast<double>(held) / 1024.0;
    state.counters["peak_KiB"] = static_cast<double>(peak) / 1024.0;
    state.counters["rows_kept"] = static_cast<double>(kept);
    state.SetLabel(narrow                ? "narrowing keystroke \"35\" after \"3\""
                   : state.range(0) == 2 ? "first keystroke, a Chinese character"
                                         : "first keystroke \"3\"");
}

QApplication& app() {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "gui-bench";
    static char* argv[] = {name, nullptr};
    static auto* instance = new QApplication(argc, argv);
    return *instance;
}

// What a start costs for the saved layouts: the window's seven lists, each given back its widths, order
// and hidden columns.
void BM_RestoreLayout(benchmark::State& state) {
    app();
    CMemRecord rec;
    rec.Create(CString::FromUtf8(kLayout), 0);
    QWidget top;
    top.resize(1280, 800);
    CWnd holder;
    holder.Attach(&top);
    constexpr int kLists = 7;
    std::vector<std::unique_ptr<COrvoListCtrl>> lists;
    for (int i = 0; i < kLists; ++i) {
        lists.push_back(std::make_unique<COrvoListCtrl>());
        lists.back()->Create("ListBox", "", WS_CHILD | WS_VISIBLE, CRect(0, 0, 1260, 780), &holder, 0);
        lists.back()->SetRecord(&rec);
        lists.back()->AdjustField(-2);
    }
    QHeaderView* header = lists[0]->View()->horizontalHeader();
    header->resizeSection(1, 150);
    header->moveSection(5, 0);
    lists[0]->HideColumn(3, TRUE);
    const std::string saved = lists[0]->SaveLayout();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 1; i < kLists; ++i)
            lists[static_cast<size_t>(i)]->ResetLayout();
        state.ResumeTiming();
        bool ok = true;
        for (int i = 0; i < kLists; ++i)
            ok = lists[static_cast<size_t>(i)]->RestoreLayout(saved) && ok;
        if (!ok) {
            state.SkipWithError("a saved layout did not restore");
            break;
        }
    }
    state.counters["layout_bytes"] = static_cast<double>(saved.size());
    lists.clear();
    holder.Detach();
}

} // namespace

BENCHMARK(BM_Sort100k)->Arg(kPriceColumn)->Arg(kNameColumn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterKeystroke100k)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreLayout)->Unit(benchmark::kMicrosecond);
