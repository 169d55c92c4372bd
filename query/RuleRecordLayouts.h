// The record layouts of the query window's seven record sets and the table of the six order kinds.
// Layouts and titles are written in UTF-8 here and handed out in GBK, converted once per process.
#pragma once

#include "host/dbm/MemRecord.h"
#include "platform/CString.h"

#include <array>

// Order kind = tab index, in tab order F1..F6.
enum OrderKind : int {
    KIND_PRICE_TRIGGER = 0, // 行情触发单
    KIND_STOP_PROFIT = 1,   // 止损止盈单
    KIND_FILL_TRIGGER = 2,  // 成交触发单
    KIND_ARBITRAGE = 3,     // 套利委托单
    KIND_BATCH = 4,         // 批量委托单
    KIND_LINKED = 5,        // 关联委托单
};
constexpr int ORDER_KIND_COUNT = 6;

constexpr bool IsValidOrderKind(int kind) {
    return kind >= 0 && kind < ORDER_KIND_COUNT;
}

struct OrderKindInfo {
    const char* titleUtf8;  // tab title
    long function;          // function number of the rule query
    long category;          // order category (request/reply tag 1842, column "WTDLB")
    const char* layoutUtf8; // layout of the kind's rule record set
};

namespace layouts {

inline constexpr const char* kDetail =
    "客户号[C12],委托号[I],状态说明[C30],合约[C16],买卖[C4],开平[C4],委价[R8.2],委手[I],成价[R8.2],"
    "成手[I],撤手[I],投保[C8],交易所[C4],委托时间[C8],申报时间[C8],委托日期[C10],color[I],KHH[C12],"
    "JYBM[C10],JYS[C2]";

inline constexpr const char* kPriceTrigger =
    "流水号[I],客户号[C12],姓名[C16],状态说明[C20],触发状态[C20],合约[C16],买卖[C4],开平[C4],委手[I],"
    "委价[R10.2],触发价[C16],触点数[I],设置时间[C8],设置日期[C10],有效日期[C10],color[I],KHH[C12],"
    "CFZT[I],LSH[I],WTDLB[I],WTRQ[C10],YXRQ[C10]";

inline constexpr const char* kStopProfit =
    "流水号[I],客户号[C12],姓名[C16],状态说明[C20],触发状态[C20],合约[C16],买卖[C4],委手[I],"
    "委价[R10.2],盈触价[C14],盈委价[C14],盈触点数[I],损触价[C14],损委价[C14],损触点数[I],设置时间[C10],"
    "设置日期[C10],有效日期[C10],color[I],KHH[C12],LSH[I],CFZT[I],WTDLB[I],WTRQ[C10],YXRQ[C10]";

// "原撤手" shows the cancelled lots of the source order that the reply carries in tag 1875.
inline constexpr const char* kFillTrigger =
    "流水号[I],客户号[C12],姓名[C16],状态说明[C20],触发状态[C20],原委托号[I],原合约[C16],原买卖[C4],"
    "原开平[C4],原委手[I],原成手[I],原撤手[I],原委价[R10.2],触委托号[I],触合约[C16],触买卖[C4],"
    "触开平[C4],触委手[I],触委价[R10.2],设置时间[C8],设置日期[C10],有效日期[C10],color[I],KHH[C12],"
    "LSH[I],CFZT[I],WTDLB[I]";

// "套利价差" is a text column with two decimals declared, unlike its real-valued neighbours.
inline constexpr const char* kArbitrage =
    "流水号[I],客户号[C12],姓名[C16],状态说明[C20],触发状态[C20],开平[C4],套利类型[C12],套利价差[C12.2],"
    "偏离板价[R12.2],合约1[C16],买卖1[C4],委价差1[R10.2],委手1[I],触发手1[I],成手1[I],合约2[C16],"
    "买卖2[C4],委价差2[R10.2],委手2[I],触发手2[I],成手2[I],最小报单[C4],单腿继续[C4],委托时间[C8],"
    "委托日期[C10],有效日期[C10],color[I],KHH[C12],JYS[C2],JYBM[C10],LSH[I],CFZT[I],WTDLB[I]";

inline constexpr const char* kBatch =
    "流水号[I],客户号[C12],姓名[C16],合约[C16],买卖[C4],开平[C4],委均价[R10.2],委手[I],成手[I],撤手[I],"
    "委托时间[C8],委托日期[C10],color[I],KHH[C12],JYS[C2],JYBM[C10],LSH[I],WTDLB[I]";

inline constexpr const char* kLinked =
    "流水号[I],客户号[C12],姓名[C16],小组编号[I],分组编号[I],下单方式[C16],合约[C16],买卖[C4],开平[C4],"
    "委均价[R10.2],委手[I],成手[I],撤手[I],小组名称[C16],分组名称[C16],委托时间[C8],委托日期[C10],"
    "color[I],KHH[C12],JYS[C2],JYBM[C10],LSH[I],WTDLB[I],XZBH[I],FZBH[I],XDFS[I]";

// Temporary sets of the linked-order query: its groups ("小组") and sub-groups ("分组"). The sub-group
// layout ends with a blank, which is part of the text handed to Create.
inline constexpr const char* kLinkGroup = "XZBH[I],XZMC[C16],KHH[C12],XZZT[I],YYB[C4],QX[I],FWXM[I]";
inline constexpr const char* kLinkSubGroup = "XZBH[I],FZBH[I],FZJC[C16],XDFS[I],XGRQ[C12],XGSJ[C8] ";

} // namespace layouts

inline constexpr std::array<OrderKindInfo, ORDER_KIND_COUNT> kOrderKinds{{
    {"行情触发单[F1]", 16476, 2, layouts::kPriceTrigger},
    {"止损止盈单[F2]", 16477, 3, layouts::kStopProfit},
    {"成交触发单[F3]", 16486, 4, layouts::kFillTrigger},
    {"套利委托单[F4]", 16479, 7, layouts::kArbitrage},
    {"批量委托单[F5]", 16485, 6, layouts::kBatch},
    {"关联委托单[F6]", 16485, 5, layouts::kLinked},
}};

// Function numbers of the two extra requests of the linked-order query, and of the detail query.
constexpr long FUNC_LINK_GROUPS = 16425;
constexpr long FUNC_LINK_SUBGROUPS = 16433;
constexpr long FUNC_DETAIL_VALID = 16151;   // rules still within their validity period
constexpr long FUNC_DETAIL_EXPIRED = 16171; // validity condition "1"

// Create flags of the rule and detail record sets: prices show the decimals of a fine tick.
constexpr int RULE_RECORD_FLAGS = MEMRECORD_KEEP_PRICE_DECIMALS;

// GBK forms, converted on first use. The kind must be valid (IsValidOrderKind).
const CString& GetOrderKindTitle(int kind);
const CString& GetRuleLayout(int kind);
const CString& GetDetailLayout();
inline long GetRuleFunction(int kind) {
    return kOrderKinds[static_cast<size_t>(kind)].function;
}
inline long GetOrderCategory(int kind) {
    return kOrderKinds[static_cast<size_t>(kind)].category;
}
