#include "server/store/SchemaTables.h"

#include <array>

namespace orvo::server::schema {
namespace {

// Widths the client's record sets give these values; a longer one would be cut there.
constexpr std::size_t kCustomerBytes = 12;     // 客户号[C12]
constexpr std::size_t kPersonNameBytes = 16;   // 姓名[C16], 小组名称[C16], 分组名称[C16]
constexpr std::size_t kContractBytes = 16;     // 合约[C16]
constexpr std::size_t kTradingCodeBytes = 10;  // JYBM[C10]
constexpr std::size_t kRuleStatusBytes = 20;   // 状态说明[C20] of the rule lists
constexpr std::size_t kOrderStatusBytes = 30;  // 状态说明[C30] of the order detail
constexpr std::size_t kPermissionBytes = 4096; // an operator's comma-separated codes
constexpr std::size_t kStampBytes = 32;        // a login's date and time

constexpr std::array kMeta{
    text("key", kNameBytes).key(),
    text("value", kFreeTextBytes),
};

// Host code tables: column names are those the client reads.
constexpr std::array kYyb{
    text("JGBM", kCodeBytes).uniqueKey(),           text("JGJC", kNameBytes),
    text("JGQC", kFreeTextBytes).withDefault("''"), text("JGLB", kCodeBytes),
    text("SJJG", kCodeBytes).withDefault("''"),     text("SJJGLB", kCodeBytes).withDefault("''"),
};
constexpr std::array kKhqz{
    text("YYB", kCodeBytes).checkedIn("YYB", "JGBM"),
    text("KHQZ", kCodeBytes).uniqueKey(),
    text("QZMC", kNameBytes),
};
constexpr std::array kKhqzIndexes{IndexSpec{"KHQZ_YYB", "YYB"}};
constexpr std::array kQhjys{
    text("JYS", kCodeBytes).uniqueKey(),
    text("JYSJC", kNameBytes),
    text("JYSQC", kFreeTextBytes).withDefault("''"),
};
constexpr std::array kJys{
    text("JYS", kCodeBytes).uniqueKey(),
    text("JYSJC", kNameBytes),
};
constexpr std::array kQhpz{
    text("JYS", kCodeBytes),    text("ZQLB", kCodeBytes).uniqueKey(),
    text("ZQLBMC", kNameBytes), text("HYPZ", kCodeBytes),
    text("PZMC", kNameBytes),
};
constexpr std::array kQhhydm{
    text("JYS", kCodeBytes),
    text("JYSMC", kNameBytes),
    text("ZQLB", kCodeBytes),
    text("ZQLBMC", kNameBytes),
    text("ZQDM", kContractBytes).uniqueKey(),
    text("HYMC", kNameBytes),
};
constexpr std::array kDictionary{
    text("FLDM", kCodeBytes),
    integer("IBM"),
    text("CBM", kCodeBytes).withDefault("''"),
    text("NOTE", kFreeTextBytes),
};
constexpr std::array kQhxtdmIndexes{IndexSpec{"QHXTDM_FLDM", "FLDM, IBM"}};
constexpr std::array kXtdmIndexes{IndexSpec{"XTDM_FLDM", "FLDM, IBM"}};
constexpr std::array kBz{text("BZ", kCodeBytes).uniqueKey(), text("BZMC", kNameBytes)};
constexpr std::array kZqlb{text("ZQLB", kCodeBytes).uniqueKey(), text("ZQLBMC", kNameBytes)};
constexpr std::array kYwkm{text("YWKM", kCodeBytes).uniqueKey(), text("YWMC", kNameBytes)};
constexpr std::array kJylb{integer("JYLB").uniqueKey(), text("JYLBMC", kNameBytes)};

constexpr std::array kOperators{
    text("name", kNameBytes).key(),
    text("pwhash", kFreeTextBytes),
    text("branches", kPermissionBytes),
    text("groups", kPermissionBytes),
    integer("enabled").withDefault("1").addedIn(2),
    text("last_login", kStampBytes).withDefault("''").addedIn(2),
    integer("ticket_epoch").withDefault("0").addedIn(7).maintainedByDatabase(),
};

constexpr std::array kCustomers{
    text("khh", kCustomerBytes).key(),
    text("name", kPersonNameBytes),
    text("yyb", kCodeBytes).checkedIn("YYB", "JGBM"),
    text("branch", kCodeBytes).checkedIn("YYB", "JGBM"),
    text("khqz", kCodeBytes).withDefault("''").checkedIn("KHQZ", "KHQZ"),
};
constexpr std::array kCustomerIndexes{
    IndexSpec{"customers_branch", "branch"}, IndexSpec{"customers_yyb", "yyb"},
    IndexSpec{"customers_khqz", "khqz"},
    IndexSpec{"customers_scope", "branch, khqz, khh", false, 3}, // the customers an operator may see
};

constexpr std::array kRules{
    integer("lsh").key(),
    integer("kind"),
    text("khh", kCustomerBytes).references("customers", "khh"),
    text("status_text", kRuleStatusBytes).withDefault("''"),
    integer("cfzt").withDefault("0"),
    text("jys", kCodeBytes).withDefault("''"),
    text("zqlb", kCodeBytes).withDefault("''"),
    text("hydm", kContractBytes).withDefault("''"),
    text("jybm", kTradingCodeBytes).withDefault("''"),
    integer("mmfx").withDefault("0"),
    integer("kpfx").withDefault("0"),
    integer("lots").withDefault("0"),
    decimal("price").withDefault("''"),
    integer("filled").withDefault("0"),
    integer("cancelled").withDefault("0"),
    timeOfDay("set_time").withDefault("''"),
    date("set_date"),
    date("valid_date"),
    integer("pdfx").withDefault("0"),
    decimal("trig_price").withDefault("''"),
    decimal("ticks_profit").withDefault("''"),
    decimal("ticks_loss").withDefault("''"),
    decimal("off_profit_trig").withDefault("'0'"),
    decimal("off_profit_order").withDefault("'0'"),
    decimal("off_loss_trig").withDefault("'0'"),
    decimal("off_loss_order").withDefault("'0'"),
    text("src_order", kCodeBytes).withDefault("''"),
    text("src_hydm", kContractBytes).withDefault("''"),
    integer("src_mmfx").withDefault("0"),
    integer("src_kpfx").withDefault("0"),
    integer("src_lots").withDefault("0"),
    integer("src_filled").withDefault("0"),
    integer("src_cancelled").withDefault("0"),
    decimal("src_price").withDefault("''"),
    text("order_no", kCodeBytes).withDefault("''"),
    integer("tllx").withDefault("0"),
    decimal("deviation").withDefault("''"),
    integer("trig_lots1").withDefault("0"),
    integer("trig_lots2").withDefault("0"),
    integer("filled2").withDefault("0"),
    integer("min_order").withDefault("0"),
    integer("single_leg").withDefault("0"),
    decimal("avg_price").withDefault("''"),
    integer("xzbh").withDefault("0"),
    integer("fzbh").withDefault("0"),
    integer("xdfs").withDefault("0"),
    integer("rev").withDefault("0").addedIn(3).maintainedByDatabase(),
};
constexpr std::array kRuleIndexes{
    // A query of one kind streams in serial order without a sort.
    IndexSpec{"rules_kind", "kind", true},
    IndexSpec{"rules_kind_valid", "kind, valid_date"},
    IndexSpec{"rules_khh", "khh, kind", false, 1, 3},
    IndexSpec{"rules_kind_hydm", "kind, hydm"},
    IndexSpec{"rules_kind_src_hydm", "kind, src_hydm"},
    IndexSpec{"rules_kind_jys", "kind, jys"},
    IndexSpec{"rules_kind_zqlb", "kind, zqlb"},
    // Covering: a kind's rules, or some customers' rules, listed with their revisions.
    IndexSpec{"rules_khh", "khh, kind, valid_date, rev", false, 3},
    IndexSpec{"rules_kind_rev", "kind, lsh, rev, valid_date", false, 3},
    // A kind's rules written since a revision (changes since a revision).
    IndexSpec{"rules_kind_changes", "kind, rev", false, 5},
};

constexpr std::array kOrders{
    integer("id").key(),
    integer("lsh").references("rules", "lsh"),
    integer("kind"),
    text("khh", kCustomerBytes).checkedIn("customers", "khh"),
    integer("hist"),
    integer("wth"),
    text("status_text", kOrderStatusBytes).withDefault("''"),
    text("hydm", kContractBytes),
    integer("mmfx"),
    integer("kpfx"),
    decimal("price"),
    integer("lots"),
    decimal("fill_price").withDefault("''"),
    integer("filled").withDefault("0"),
    integer("cancelled").withDefault("0"),
    integer("tzlb").withDefault("1"),
    text("jys", kCodeBytes),
    text("jybm", kTradingCodeBytes).withDefault("''"),
    timeOfDay("wtsj"),
    timeOfDay("sbsj").withDefault("''"),
    date("wtrq"),
    text("flag", kCodeBytes).withDefault("''"),
    integer("rev").withDefault("0").addedIn(5).maintainedByDatabase(),
};
constexpr std::array kOrderIndexes{IndexSpec{"orders_rule", "khh, lsh, hist, wtrq"}};

constexpr std::array kLinkGroups{
    integer("xzbh").key(),
    text("xzmc", kPersonNameBytes),
    text("khh", kCustomerBytes).references("customers", "khh"),
    integer("xzzt").withDefault("0"),
    text("yyb", kCodeBytes).checkedIn("YYB", "JGBM"),
    integer("qx").withDefault("0"),
    integer("fwxm").withDefault("0"),
};
// The logins the servers hold, so that an administrator may list and end them from anywhere, and a
// change of an operator reaches its sessions on every server (see the step that adds it).
constexpr std::array kSessions{
    integer("id").key().addedIn(6),
    text("server", kFreeTextBytes).addedIn(6),
    text("operator", kNameBytes).addedIn(6),
    text("address", kNameBytes).addedIn(6),
    text("since", kStampBytes).addedIn(6),
    text("last_request", kStampBytes).addedIn(6),
    integer("operator_changes").withDefault("0").addedIn(6).maintainedByDatabase(),
    text("ended", kStampBytes).withDefault("''").addedIn(6),
    text("end_reason", kFreeTextBytes).withDefault("''").addedIn(6),
    integer("ticket_session").withDefault("0").addedIn(7),
    text("ticket_revoked", kFreeTextBytes).withDefault("''").addedIn(7),
    text("ended_by", kFreeTextBytes).withDefault("''").addedIn(7),
};
constexpr std::array kSessionIndexes{
    IndexSpec{"sessions_server", "server, id", false, 6, 7},
    IndexSpec{"sessions_operator", "operator, ended", false, 6},
    IndexSpec{"sessions_server_ended", "server, ended, id", false, 7},
    IndexSpec{"sessions_ended", "ended", false, 7},
};
// The servers that record sessions, each noting itself every few seconds, so that the sessions of a
// server that died without a word are ended by the others.
constexpr std::array kServers{
    text("name", kFreeTextBytes).key().addedIn(7),
    integer("seen").addedIn(7),
};

constexpr std::array kLinkGroupIndexes{IndexSpec{"link_groups_khh", "khh"}};
constexpr std::array kLinkSubgroups{
    integer("xzbh").references("link_groups", "xzbh"),
    integer("fzbh"),
    text("fzjc", kPersonNameBytes),
    integer("xdfs").withDefault("0"),
    date("xgrq").withDefault("''"),
    timeOfDay("xgsj").withDefault("''"),
};
constexpr std::array kLinkSubgroupIndexes{IndexSpec{"link_subgroups_xzbh", "xzbh"}};

constexpr std::string_view kCodeTable = "";

const std::array<TableSpec, 21> kTables{{
    {"meta", "", kMeta, {}, false, false, ""},
    {"YYB",
     "Host code tables. Column names are those the client reads; row order is insertion order.",
     kYyb,
     {},
     true,
     true,
     ""},
    {"KHQZ", kCodeTable, kKhqz, kKhqzIndexes, true, true, ""},
    {"QHJYS", kCodeTable, kQhjys, {}, true, true, ""},
    {"JYS", kCodeTable, kJys, {}, true, true, ""},
    {"QHPZ", kCodeTable, kQhpz, {}, true, true, ""},
    {"QHHYDM", kCodeTable, kQhhydm, {}, true, true, ""},
    {"QHXTDM", kCodeTable, kDictionary, kQhxtdmIndexes, true, true, ""},
    {"XTDM", kCodeTable, kDictionary, kXtdmIndexes, true, true, ""},
    {"BZ", kCodeTable, kBz, {}, true, true, ""},
    {"ZQLB", kCodeTable, kZqlb, {}, true, true, ""},
    {"YWKM", kCodeTable, kYwkm, {}, true, true, ""},
    {"JYLB", kCodeTable, kJylb, {}, true, true, ""},
    {"operators",
     "Operators: branches and groups are comma-separated codes, or \"9999\" for all.",
     kOperators,
     {},
     false,
     true,
     ""},
    {"customers",
     "Customers: yyb is the organisation the account is opened at (a branch or an office under one), "
     "branch the branch it belongs to, khqz its customer group.",
     kCustomers, kCustomerIndexes, true, true,
     "a change of a customer's number or name, or its deletion, draws the names revision that every kept "
     "rule row is checked against, as replies show the name"},
    {"link_groups", "Linked-order groups and their sub-groups.", kLinkGroups, kLinkGroupIndexes, true, false,
     ""},
    {"link_subgroups", kCodeTable, kLinkSubgroups, kLinkSubgroupIndexes, true, true, ""},
    {"rules",
     "Rule records of all six kinds; kind is the order category (2, 3, 4, 7, 6, 5). Columns that a kind "
     "does not use stay at their defaults. Dates are text \"YYYY.MM.DD\", times \"HH:MM:SS\".",
     kRules, kRuleIndexes, true, false,
     "a deleted rule, or one moved to another kind or customer, leaves a tombstone (row_tombstones) with "
     "its old kind and customer at a revision of its own; rev: drawn on every write of the rule, never smaller than any drawn before, not even after a restore "
     "(SQLite: the counter or the clock, whichever is larger; PostgreSQL: the writing transaction's id), so "
     "a server may tell from it and the names revision whether a rule it keeps encoded is current; a write "
     "that sets rev itself is taken as it is"},
    {"orders",
     "Orders produced by rules: hist 0 for the current orders (function 16151), 1 for history (16171).",
     kOrders, kOrderIndexes, true, false,
     "rev: drawn on every write of the order, as the rules' is; a deleted order leaves a tombstone "
     "(row_tombstones) with its rule's serial"},
    {"sessions",
     "Sessions: the logins each server holds (server names the process), ended when the connection "
     "closes or an administrator ends them.",
     kSessions, kSessionIndexes, false, false,
     "operator_changes: counted up on every change of the session's operator (its permissions, its "
     "enabled flag, its row replaced or deleted) while the session is live, so that the server holding "
     "it knows to read the operator again",
     5},
    {"servers", "Servers: the processes recording sessions, and when each last noted itself (Unix seconds).",
     kServers, {}, false, false, "", 7},
}};

} // namespace

std::span<const TableSpec> tables() {
    return kTables;
}

const TableSpec* findTable(std::string_view name) {
    for (const TableSpec& t : kTables)
        if (t.name == name)
            return &t;
    return nullptr;
}

const ColumnSpec* findColumn(const TableSpec& table, std::string_view name) {
    for (const ColumnSpec& c : table.columns)
        if (c.name == name)
            return &c;
    return nullptr;
}

} // namespace orvo::server::schema
