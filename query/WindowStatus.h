// The status line of the query window: what the current list shows and how the last query went.
#pragma once

#include "platform/CString.h"

#include <vector>

class CMemRecord;

// How the last query of a list ended, as its status line tells it.
enum class QueryOutcome {
    None,      // not queried yet
    Ok,        // the rows shown are the reply
    Cancelled, // the user cancelled the last query; the rows shown are those of the query before
    Failed,    // refused or cut off with no rows to show: the reason stays until a query of the list succeeds
    Stale,     // refused or cut off while the list had rows: they stay, marked out of date, with the reason
};

// What the status line of a list says beside its rows: the outcome, and the time and clock of the query
// whose rows it shows.
struct ListQueryState {
    QueryOutcome outcome = QueryOutcome::None;
    CString failureText; // GBK; with Failed and Stale
    long queryMs = -1;
    CString refreshTime;
    // "HH:MM:SS" the rows shown were last known to be current: the last query or live tick that succeeded.
    CString lastUpdate;
    // The first success after the list was out of date: the status line says so, once.
    bool recovered = false;
};

struct WindowStatusFigures {
    long rowsShown = 0;
    long rowsLoaded = 0;
    long rowsSelected = 0; // the sums cover the selected rows when more than one is selected
    std::vector<std::pair<CString, long long>> lotSums; // column caption (GBK), sum
    long queryMs = -1;                                  // -1: no query yet
    CString refreshTime; // "HH:MM:SS" of the last query, empty before the first
    QueryOutcome outcome = QueryOutcome::None;
    CString failureText;    // GBK; with Failed and Stale
    CString lastUpdate;     // with Stale: "HH:MM:SS" the rows were last known to be current
    bool recovered = false; // the first success after Stale
    bool live = false;      // the list is kept up to date by changes
    long liveChanges = 0;   // rows changed, added or removed since the last full query
    CString lastChangeTime; // "HH:MM:SS" of the last of them, empty for none
};

// Lot columns: the integer display columns whose caption holds "手" (委手, 成手, 撤手, 触发手1...).
std::vector<int> LotColumns(const CMemRecord& record, int shownColumns);

// Sums each lot column over the given record rows.
std::vector<std::pair<CString, long long>> SumLots(const CMemRecord& record, const std::vector<int>& columns,
                                                   const std::vector<long>& rows);

// "显示 2/3 行  委手 30  成手 10  查询 0.12 秒  刷新 11:52:03" (GBK); "选中 2 行" leads the sums of a
// selection, "已取消" the whole line; a live list ends in "实时 11:52:40 变动 12" (the time of the last
// change and the changes since the full query; "实时" alone before the first); after a cancel. A failed query
// gives "查询失败: reason" alone: no counts that could read as a query that found nothing. Rows kept over a
// failure lead with "数据已过时，最后更新 11:52:03 (reason)", the first success after them with "已恢复".
CString FormatWindowStatus(const WindowStatusFigures& figures);
