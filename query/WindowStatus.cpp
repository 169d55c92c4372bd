#include "query/WindowStatus.h"

#include "host/dbm/MemRecord.h"

#include <cstdio>

std::vector<int> LotColumns(const CMemRecord& record, int shownColumns) {
    static const CString lot = CString::FromUtf8("手");
    std::vector<int> columns;
    for (int c = 0; c < shownColumns && c < record.GetFieldCount(); ++c) {
        const FieldInfo& field = record.GetField(c);
        // GBK is a double-byte code: look for the character at character boundaries only.
        const std::string& name = field.name.str();
        bool holds = false;
        for (std::size_t i = 0; i + 1 < name.size() && !holds;) {
            holds = name.compare(i, 2, lot.str()) == 0;
            i += static_cast<unsigned char>(name[i]) >= 0x81 ? 2 : 1;
        }
        if (field.type == FieldType::Integer && holds)
            columns.push_back(c);
    }
    return columns;
}

std::vector<std::pair<CString, long long>> SumLots(const CMemRecord& record, const std::vector<int>& columns,
                                                   const std::vector<long>& rows) {
    std::vector<std::pair<CString, long long>> sums;
    for (const int c : columns) {
        sums.emplace_back(record.GetField(c).name, record.SumCellLongs(c, rows));
    }
    return sums;
}

CString FormatWindowStatus(const WindowStatusFigures& figures) {
    if (figures.outcome == QueryOutcome::Failed)
        return CString(CString::FromUtf8("查询失败: ").str() + figures.failureText.str());
    std::string text;
    if (figures.outcome == QueryOutcome::Stale) {
        text = CString::FromUtf8("数据已过时，最后更新 ").str() +
               (figures.lastUpdate.IsEmpty() ? std::string("--:--:--") : figures.lastUpdate.str());
        if (!figures.failureText.IsEmpty())
            text += " (" + figures.failureText.str() + ")";
        text += "  ";
    } else if (figures.outcome == QueryOutcome::Cancelled) {
        text = CString::FromUtf8("已取消  ").str();
    } else if (figures.recovered) {
        text = CString::FromUtf8("已恢复  ").str();
    }
    text += CString::FromUtf8("显示 ").str() + std::to_string(figures.rowsShown) + "/" +
            std::to_string(figures.rowsLoaded) + CString::FromUtf8(" 行").str();
    if (!figures.lotSums.empty()) {
        text += "  ";
        if (figures.rowsSelected > 1)
            text += CString::FromUtf8("选中 ").str() + std::to_string(figures.rowsSelected) +
                    CString::FromUtf8(" 行").str();
        else
            text += CString::FromUtf8("合计").str();
        for (const auto& [name, sum] : figures.lotSums)
            text += " " + name.str() + " " + std::to_string(sum);
    }
    if (figures.queryMs >= 0) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.2f", static_cast<double>(figures.queryMs) / 1000.0);
        text += CString::FromUtf8("  查询 ").str() + seconds + CString::FromUtf8(" 秒").str();
    }
    if (!figures.refreshTime.IsEmpty())
        text += CString::FromUtf8("  刷新 ").str() + figures.refreshTime.str();
    if (figures.live) {
        text += CString::FromUtf8("  实时").str();
        if (!figures.lastChangeTime.IsEmpty())
            text += " " + figures.lastChangeTime.str() + CString::FromUtf8(" 变动 ").str() +
                    std::to_string(figures.liveChanges);
    }
    return CString(std::move(text));
}
