// CFixComm::DownloadTable: function 2 into a record set whose columns are the reply's column names.
//
// Each row names its columns ([A-Z0-9_]{1,32}); the first row decides the layout, every column a text
// column "[C255]" (the record set converts text to numbers on GetLong/Locate, and 255 is only the width
// a view would show). Columns missing from a later row stay empty; a column that only a later row has is
// not kept. The rows go into a scratch record set first, so a failed download leaves the table as it was.
#include "host/com/FixComm.h"

#include "host/com/FixCommImpl.h"
#include "host/dbm/MemRecord.h"

#include <set>
#include <string>
#include <string_view>

namespace {

constexpr const char* kColumnType = "[C255]";

std::string LayoutOf(std::span<const proto::Item> items, std::size_t first) {
    std::string layout;
    std::set<std::string_view> seen;
    for (std::size_t i = first; i < items.size(); ++i) {
        const proto::Item& item = items[i];
        if (item.IsTag() || !seen.insert(item.key).second)
            continue;
        if (!layout.empty())
            layout += ',';
        layout.append(item.key);
        layout += kColumnType;
    }
    return layout;
}

} // namespace

BOOL CFixComm::DownloadTable(LPCTSTR name, CMemRecord& table) {
    Impl& d = *m_impl;
    CreateHead(proto::kFunctionDownloadTable);
    const std::string tableName = name ? name : "";
    if (tableName.empty() || tableName.find('\x01') != std::string::npos)
        d.requestError = "no valid table name";
    else
        d.items.emplace_back(proto::kTagTable, tableName); // a protocol item: SetItem would refuse it

    CMemRecord scratch;
    bool created = false;
    std::string column, value;
    // A download only reads: cut by its server's death, it is asked again of the next server.
    // Its layout stays: the same table of the same database.
    RepeatFromStartOnFailover([&scratch] { scratch.Zap(); });
    while (More()) {
        if (!created) {
            const std::string layout = LayoutOf(d.rowItems, d.rowFirst);
            if (layout.empty() || !scratch.Create(layout.c_str())) {
                d.StopReadAhead();
                d.state = Impl::State::Idle; // the rest of the reply is skipped by the next request
                d.row.Hide();
                d.Fail(proto::kFunctionDownloadTable, Impl::kTransportFailure,
                       "table " + tableName + ": its column names do not make a record layout");
                return FALSE;
            }
            created = true;
        }
        scratch.Append(nullptr, 1);
        for (std::size_t i = d.rowFirst; i < d.rowItems.size(); ++i) {
            const proto::Item& item = d.rowItems[i];
            if (item.IsTag())
                continue;
            column.assign(item.key);
            value.assign(item.value);
            scratch.Set(column.c_str(), value.c_str());
        }
    }
    if (!d.lastOk)
        return FALSE;
    if (created) {
        scratch.GoTop();
        table = scratch;
    } else {
        table.Zap(); // no rows: the server's table is empty, and so is ours now
    }
    return TRUE;
}
