// The status line of the query window: what the current list shows and how the last query went.
#pragma once

#include "platform/CString.h"

#include <vector>

class CMemRecord;

struct WindowStatusFigures {
    long rowsShown = 0;
    long rowsLoaded = 0;
    long rowsSelected = 0; // the sums cover the selected rows when more than one is selected
    std::vector<std::pair<CString, long long>> lotSums; // column caption (GBK), sum
    long queryMs = -1;                                  // -1: no query yet
    CString refreshTime; // "HH:MM:SS" of the last query, empty before the first
};

// Lot columns: the integer display columns whose caption holds "手" (委手, 成手, 撤手, 触发手1...).
std::vector<int> LotColumns(const CMemRecord& record, int shownColumns);

// Sums each lot column over the given record rows.
std::vector<std::pair<CString, long long>> SumLots(const CMemRecord& record, const std::vector<int>& columns,
                                                   const std::vector<long>& rows);

// "显示 2/3 行  委手 30  成手 10  查询 0.12 秒  刷新 11:52:03" (GBK); "选中 2 行" leads the sums of a
// selection.
CString FormatWindowStatus(const WindowStatusFigures& figures);
