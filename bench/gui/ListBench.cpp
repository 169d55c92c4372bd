// The record-bound list over 100,000 rows of 25 columns: from an already filled record set to the first
// paint of the list (model, view, column fitting, show), offscreen. Reports milliseconds and the resident
// memory the list adds; the record set's own fill is reported beside it.
#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoListCtrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// The widest rule layout of the query window: 25 columns.
const char* kLayout =
    "流水号[I],客户号[C12],姓名[C16],状态说明[C20],触发状态[C20],合约[C16],买卖[C4],委手[I],"
    "委价[R10.2],盈触价[C14],盈委价[C14],盈触点数[I],损触价[C14],损委价[C14],损触点数[I],"
    "设置时间[C10],设置日期[C10],有效日期[C10],color[I],KHH[C12],LSH[I],CFZT[I],WTDLB[I],"
    "WTRQ[C10],YXRQ[C10]";

// Offscreen unless QT_QPA_PLATFORM says otherwise, as the other GUI benchmarks run.
QApplication& app() {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "gui-bench";
    static char* argv[] = {name, nullptr};
    static auto* instance = new QApplication(argc, argv);
    return *instance;
}

double residentMiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * 4096.0 / (1024.0 * 1024.0);
}

void fillRecord(CMemRecord& rec, long rows) {
    rec.Create(CString::FromUtf8(kLayout), 0);
    const CString name = CString::FromUtf8("张三");
    const CString state = CString::FromUtf8("已设置");
    for (long i = 0; i < rows; ++i) {
        rec.Append(nullptr, 1);
        char code[24];
        std::snprintf(code, sizeof code, "T%ld", i % 9973);
        for (int c = 0; c < rec.GetFieldCount(); ++c) {
            const FieldInfo& field = rec.GetField(c);
            if (field.type == FieldType::Text)
                rec.Set(field.name, c == 2 ? name : c == 3 ? state : CString(code));
            else
                rec.Set(field.name, static_cast<long>(i * 7 + c));
        }
    }
}

// Paint events reaching the list's viewport.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void BM_ListFirstPaint100k(benchmark::State& state) {
    app();
    const long rows = state.range(0);
    static CMemRecord rec;
    static long filledRows = -1;
    static double fillMs = 0;
    static double recordMiB = 0;
    if (filledRows != rows) {
        const double before = residentMiB();
        QElapsedTimer timer;
        timer.start();
        fillRecord(rec, rows);
        fillMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        recordMiB = residentMiB() - before;
        filledRows = rows;
    }
    static bool warmedUp = false;
    if (!warmedUp) {
        // Fonts, style and the offscreen backing store load once per process; keep them out of the numbers.
        CMemRecord empty;
        empty.Create(CString::FromUtf8(kLayout), 0);
        QWidget top;
        CWnd holder;
        holder.Attach(&top);
        COrvoListCtrl list;
        list.Create("ListBox", "", WS_CHILD | WS_VISIBLE, CRect(0, 0, 1260, 780), &holder, 0);
        list.SetRecord(&empty);
        top.resize(1280, 800);
        top.show();
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents();
        list.DestroyWindow();
        holder.Detach();
        warmedUp = true;
    }
    double listMiB = 0;
    bool painted = true;
    for (auto _ : state) {
        const double before = residentMiB();
        auto top = std::make_unique<QWidget>();
        top->resize(1280, 800);
        CWnd holder;
        holder.Attach(top.get());
        {
            COrvoListCtrl list;
            list.Create("ListBox", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(0, 0, 1260, 780), &holder,
                        0);
            PaintCounter counter;
            list.View()->viewport()->installEventFilter(&counter);
            list.SetRecord(&rec);
            list.AdjustField(-2);
            top->show();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (counter.paints == 0 && std::chrono::steady_clock::now() < deadline)
                QApplication::processEvents();
            painted = counter.paints > 0;
            listMiB = std::max(listMiB, residentMiB() - before);
            list.View()->viewport()->removeEventFilter(&counter);
        }
        holder.Detach();
        top.reset();
        QApplication::processEvents();
        if (!painted) {
            state.SkipWithError("no paint within ten seconds");
            break;
        }
    }
    state.counters["list_MiB"] = listMiB;
    state.counters["fill_ms"] = fillMs;
    state.counters["record_MiB"] = recordMiB;
}

} // namespace

BENCHMARK(BM_ListFirstPaint100k)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
