// One keystroke of the contract box's type-ahead over 20,000 contracts, with its drop-down open: from the
// edit change to the list rebuilt and handed to Qt's view (and, in the "painted" variant, laid out and
// painted). Beside it the limit: a bare case-insensitive prefix scan over the same codes.
// Each iteration is timed on its own; the counter median_us is the median over the iterations.
#include "controls/ContractComboBox.h"
#include "host/dbm/MemRecord.h"

#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kContracts = 20000;
constexpr int kId = 9011;

QApplication& app() {
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QApplication(argc, argv);
    }();
    return *instance;
}

// A contract table in the order a host keeps it: exchange by exchange, variety by variety, then month
// and, for option series, strike. Codes are not in sort order across varieties.
CMemRecord makeContracts() {
    static const char* const varieties[] = {
        "zn", "cu", "al", "pb", "ni", "sn", "au", "ag", "rb", "hc", "ru", "bu", "sp", "fu", "m",
        "y",  "a",  "b",  "p",  "c",  "cs", "jd", "l",  "v",  "pp", "j",  "jm", "i",  "eg", "eb",
        "pg", "SR", "CF", "TA", "MA", "FG", "RM", "OI", "ZC", "AP", "CJ", "UR", "SA", "PF", "PK",
        "IF", "IC", "IH", "T",  "TF", "TS", "sc", "lu", "nr", "bc", "si", "lc", "ao", "br", "ec"};
    CMemRecord rec;
    rec.Create("JYS[C4],JYSMC[C20],ZQLB[C8],ZQLBMC[C20],ZQDM[C24],HYMC[C30]", 0);
    int made = 0;
    for (int strike = 0; made < kContracts; ++strike)
        for (const char* variety : varieties)
            for (int month = 0; month < 24 && made < kContracts; ++month, ++made) {
                const int yymm = 2501 + (month / 12) * 100 + month % 12;
                std::string code = variety + std::to_string(yymm);
                if (strike > 0)
                    code += (strike % 2 ? "-C-" : "-P-") + std::to_string(1000 + strike * 50);
                rec.Append(nullptr, 1);
                rec.Set("JYS", "EX");
                rec.Set("ZQLB", variety);
                rec.Set("ZQLBMC", variety);
                rec.Set("ZQDM", code.c_str());
                rec.Set("HYMC", code.c_str());
            }
    return rec;
}

struct Setup {
    Setup() {
        app();
        parent.SubclassWindow(widget = new QWidget);
        widget->resize(400, 300);
        widget->show();
        box.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT,
                   RECT{10, 10, 200, 300}, &parent, kId);
        CMemRecord contracts = makeContracts();
        box.LoadContracts(&contracts);
        for (contracts.GoTop(); !contracts.Eof(); contracts.Skip(1))
            codes.push_back(contracts.GetString("ZQDM"));
        box.ShowDropDown(TRUE);
        QCoreApplication::processEvents();
    }
    ~Setup() {
        box.DestroyWindow();
        parent.DestroyWindow();
    }
    // The edit text as typed, then the edit change the box raises for it.
    void Keystroke(const char* text) {
        box.SetWindowText(text);
        parent.SendMessage(WM_COMMAND, MAKEWPARAM(kId, CBN_EDITCHANGE), reinterpret_cast<LPARAM>(box.m_hWnd));
        orvo::FlushComboList(box);
    }
    CWnd parent;
    QWidget* widget = nullptr;
    CContractComboBox box;
    std::vector<CString> codes;
};

Setup& setup() {
    static Setup* s = new Setup;
    return *s;
}

const char* prefixOf(int index) {
    static const char* const prefixes[] = {"", "c", "cu", "cu25", "zz"};
    return prefixes[index];
}

template <typename Step> void timed(benchmark::State& state, Step step) {
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        step();
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::nth_element(micros.begin(), micros.begin() + static_cast<long>(micros.size() / 2), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
}

void BM_BarePrefixScan(benchmark::State& state) {
    Setup& s = setup();
    CString prefix = prefixOf(static_cast<int>(state.range(0)));
    prefix.MakeUpper();
    const int n = prefix.GetLength();
    timed(state, [&] {
        int matches = 0;
        for (const CString& code : s.codes) {
            if (code.GetLength() < n)
                continue;
            bool same = true;
            for (int i = 0; i < n && same; ++i)
                same = std::toupper(static_cast<unsigned char>(code[i])) ==
                       static_cast<unsigned char>(prefix[i]);
            matches += same;
        }
        benchmark::DoNotOptimize(matches);
    });
    state.SetLabel(std::string("prefix \"") + prefixOf(static_cast<int>(state.range(0))) + "\"");
}

void BM_Keystroke(benchmark::State& state) {
    Setup& s = setup();
    const char* prefix = prefixOf(static_cast<int>(state.range(0)));
    timed(state, [&] { s.Keystroke(prefix); });
    state.counters["entries"] = s.box.GetCount();
    state.counters["dropped"] = s.box.GetDroppedState();
    state.SetLabel(std::string("prefix \"") + prefix + "\"");
}

void BM_KeystrokePainted(benchmark::State& state) {
    Setup& s = setup();
    const char* prefix = prefixOf(static_cast<int>(state.range(0)));
    timed(state, [&] {
        s.Keystroke(prefix);
        QCoreApplication::processEvents(); // the open list laid out and painted
    });
    state.counters["entries"] = s.box.GetCount();
    state.SetLabel(std::string("prefix \"") + prefix + "\"");
}

} // namespace

BENCHMARK(BM_BarePrefixScan)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Keystroke)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeystrokePainted)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
