// Exporting a list of 100,040 price-trigger rows as shown: to .xlsx (numbers with their decimals, the
// trigger condition as a number with its comparison in the format, dates and times as Excel's) and to
// CSV. The figure is the time of one export of every row and every shown column, progress calls included.
#include "host/dbm/MemRecord.h"
#include "host/gui/ListExport.h"
#include "query/RuleRecordLayouts.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr long kRows = 100040;

// Rows as a counter hands them out: many customers and names, prices with two to four decimals, the four
// comparisons, times and dates.
const CMemRecord& priceTriggerRows() {
    static CMemRecord rec;
    static bool filled = false;
    if (filled)
        return rec;
    rec.Create(CString::FromUtf8(layouts::kPriceTrigger), MEMRECORD_KEEP_PRICE_DECIMALS);
    const char* surnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄"};
    const char* given[] = {"伟", "芳", "娜", "敏", "静", "强", "磊", "军"};
    const char* signs[] = {">=", "<=", ">", "<"};
    const CString states[] = {CString::FromUtf8("已设置"), CString::FromUtf8("已触发"),
                              CString::FromUtf8("已撤销")};
    unsigned seed = 12345;
    const auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (long i = 0; i < kRows; ++i) {
        rec.Append(nullptr, 1);
        char customer[16], price[24], trigger[32], time[16], contract[16];
        std::snprintf(customer, sizeof customer, "0101%08ld", static_cast<long>(next() % 40000));
        std::snprintf(price, sizeof price, "%.*f", static_cast<int>(2 + next() % 3),
                      3000.0 + static_cast<double>(next() % 1000000) / 1000.0);
        std::snprintf(trigger, sizeof trigger, "%s%.2f", signs[next() % 4],
                      3000.0 + static_cast<double>(next() % 100000) / 10.0);
        std::snprintf(time, sizeof time, "%02u:%02u:%02u", next() % 24, next() % 60, next() % 60);
        std::snprintf(contract, sizeof contract, "%s%u", next() % 2 ? "cu" : "RB", 2501 + next() % 12);
        const std::string name = std::string(surnames[next() % 7]) + given[next() % 8] + given[next() % 8];
        rec.Set(CString::FromUtf8("流水号"), i + 1);
        rec.Set(CString::FromUtf8("客户号"), customer);
        rec.Set(CString::FromUtf8("姓名"), CString::FromUtf8(name));
        rec.Set(CString::FromUtf8("状态说明"), states[next() % 3]);
        rec.Set(CString::FromUtf8("触发状态"), states[next() % 3]);
        rec.Set(CString::FromUtf8("合约"), contract);
        rec.Set(CString::FromUtf8("买卖"), CString::FromUtf8("买入"));
        rec.Set(CString::FromUtf8("开平"), CString::FromUtf8("开仓"));
        rec.Set(CString::FromUtf8("委手"), static_cast<long>(1 + next() % 50));
        rec.Set(CString::FromUtf8("委价"), price);
        rec.Set(CString::FromUtf8("触发价"), trigger);
        rec.Set(CString::FromUtf8("触点数"), static_cast<long>(next() % 20));
        rec.Set(CString::FromUtf8("设置时间"), time);
        rec.Set(CString::FromUtf8("设置日期"), "2026.12.07");
        rec.Set(CString::FromUtf8("有效日期"), "2026.12.31");
    }
    filled = true;
    return rec;
}

std::vector<long> allRows() {
    std::vector<long> rows(static_cast<std::size_t>(kRows));
    std::iota(rows.begin(), rows.end(), 0L);
    return rows;
}

std::vector<int> shownColumns(const CMemRecord& rec) {
    std::vector<int> columns(static_cast<std::size_t>(rec.FindField("color")));
    std::iota(columns.begin(), columns.end(), 0);
    return columns;
}

void BM_ExportXlsx100k(benchmark::State& state) {
    const CMemRecord& rec = priceTriggerRows();
    const std::vector<long> rows = allRows();
    orvo::XlsxColumns columns;
    for (const int c : shownColumns(rec))
        columns.push_back({c, 90});
    QTemporaryDir dir;
    const std::string path = dir.filePath("rules.xlsx").toStdString();
    long calls = 0;
    for (auto _ : state) {
        std::string error;
        if (!orvo::WriteXlsxFile(rec, rows, columns, path, &error, [&](long, long) { return ++calls > 0; })) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.counters["rows"] = static_cast<double>(kRows);
}

void BM_ExportCsv100k(benchmark::State& state) {
    const CMemRecord& rec = priceTriggerRows();
    const std::vector<long> rows = allRows();
    const std::vector<int> columns = shownColumns(rec);
    QTemporaryDir dir;
    const std::string path = dir.filePath("rules.csv").toStdString();
    for (auto _ : state) {
        std::string error;
        if (!orvo::WriteCsvColumns(rec, rows, columns, orvo::CsvEncoding::Gbk, path, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.counters["rows"] = static_cast<double>(kRows);
}

} // namespace

BENCHMARK(BM_ExportXlsx100k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ExportCsv100k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
