// Kinds read through the host library's and the window layer's own control classes: the record-bound
// list (every layout column, every row as the record set holds it), the keyed and check combo boxes and
// the date picker. These come first, so a control is read through the richest interface it has.
#include "client/Json.h"
#include "client/automation/ControlKinds.h"
#include "client/automation/Input.h"

#include "host/dbm/MemRecord.h"
#include "host/gui/OrvoListCtrl.h"
#include "host/gui/RecordTableModel.h"
// The layer's combo box and date picker join it in their own sources; read them once they are there.
#if __has_include("platform/ComboBox.h") && __has_include("platform/DateTimeCtrl.h")
#define ORVO_CLIENT_HAVE_COMBOS 1
#include "platform/ComboBox.h"
#include "platform/DateTimeCtrl.h"
#endif

#include <QWidget>

#include <cctype>
#include <cstdio>

namespace automation {
namespace {

COrvoListCtrl* listOf(CWnd* wnd) {
    return dynamic_cast<COrvoListCtrl*>(wnd);
}

void recordTable(COrvoListCtrl* list, bool shownOnly, std::vector<std::string>& columns,
                 std::vector<std::vector<std::string>>& rows, int& current) {
    columns.clear();
    rows.clear();
    // The rows are the record set's: the current one is the record row of the selected line.
    current = list->Model() ? static_cast<int>(list->Model()->RecordRow(list->GetCurSel())) : -1;
    const CMemRecord* record = list->GetRecord();
    if (!record)
        return;
    const int count = shownOnly ? list->GetShownColumnCount() : record->GetFieldCount();
    std::vector<CString> names;
    for (int c = 0; c < count; ++c) {
        names.push_back(record->GetField(c).name);
        columns.push_back(names.back().ToUtf8());
    }
    for (long r = 0; r < record->GetRecordCount(); ++r) {
        std::vector<std::string> row;
        for (const CString& name : names)
            row.push_back(record->GetString(name, static_cast<int>(r)).ToUtf8());
        rows.push_back(std::move(row));
    }
}

// What WriteTable writes of recordTable(list, false, ...), cell by cell into the JSON as it is read: a list
// of 100,000 rows is never held as text twice over (a string per cell, then the document).
void writeRecordTable(const COrvoListCtrl& list, JsonWriter& json) {
    const orvo::RecordTableModel* model = list.Model();
    const int current = model ? static_cast<int>(model->RecordRow(list.GetCurSel())) : -1;
    const CMemRecord* record = list.GetRecord();
    std::vector<int> fields; // by name, as recordTable reads them
    json.Key("columns").BeginArray();
    for (int c = 0; record && c < record->GetFieldCount(); ++c) {
        json.String(record->GetField(c).name.ToUtf8());
        fields.push_back(record->FindField(record->GetField(c).name));
    }
    json.EndArray();
    json.Key("rows").BeginArray();
    for (long r = 0; record && r < record->GetRecordCount(); ++r) {
        json.BeginArray();
        for (const int field : fields)
            json.String(record->GetCellString(r, field).ToUtf8());
        json.EndArray();
    }
    json.EndArray();
    json.Field("current", current);
}

#ifdef ORVO_CLIENT_HAVE_COMBOS
int findEntry(QWidget* widget, const orvo::ComboState& state, const std::string& keyOrText) {
    const CString wanted = CString::FromUtf8(keyOrText);
    if (state.keyed)
        return static_cast<int>(
            ::SendMessage(widget, CBM_ORVO_FINDKEY, 0, reinterpret_cast<LPARAM>(wanted.GetString())));
    for (std::size_t i = 0; i < state.entries.size(); ++i)
        if (state.entries[i].text == wanted)
            return static_cast<int>(i);
    return CB_ERR;
}

void writeEntries(const orvo::ComboState& state, JsonWriter& json) {
    json.Key("items").BeginArray();
    for (const orvo::ComboEntryState& entry : state.entries) {
        json.BeginObject();
        if (state.keyed)
            json.Field("key", entry.key.ToUtf8());
        else
            json.Field("data", static_cast<long long>(entry.data));
        json.Field("text", entry.text.ToUtf8());
        if (state.checkable)
            json.Field("checked", entry.checked);
        json.EndObject();
    }
    json.EndArray();
}
#endif

} // namespace

void AddHostControlKinds(ControlKinds& kinds) {
    {
        ControlKind kind;
        kind.name = "list";
        kind.matches = [](QWidget*, CWnd* wnd) { return listOf(wnd) != nullptr; };
        kind.dump = [](QWidget*, CWnd* wnd, JsonWriter& json) {
            COrvoListCtrl* list = listOf(wnd);
            if (!list)
                return; // matched as a list, so never
            writeRecordTable(*list, json);
            json.Field("shownColumns", list->GetShownColumnCount());
            // The rows are an earlier answer that the last query could not renew.
            json.Field("stale", list->IsStale());
            // The record row of the first line in view (-1 for none).
            json.Field("topRow", list->GetTopRecordRow());
            const int sortColumn = list->GetSortColumn();
            if (sortColumn >= 0 && list->GetRecord()) {
                json.Key("sort").BeginArray();
                json.String(list->GetRecord()->GetField(sortColumn).name.ToUtf8());
                json.String(list->IsSortAscending() ? "asc" : "desc");
                json.EndArray();
            } else {
                json.Key("sort").Null();
            }
            json.Key("shownRows").BeginArray();
            for (const long row : list->GetShownRecordRows())
                json.Number(row);
            json.EndArray();
            // Rows a live update changed or added whose tint still shows (indexes into "rows").
            json.Key("changedRows").BeginArray();
            for (const long row : list->GetMarkedRecordRows())
                json.Number(row);
            json.EndArray();
        };
        kind.exportTo = [](QWidget*, CWnd* wnd, const std::string& path, std::string& error) {
            const auto endsWith = [&](const char* tail) {
                const std::string t(tail);
                if (path.size() < t.size())
                    return false;
                std::string end = path.substr(path.size() - t.size());
                for (char& c : end)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                return end == t;
            };
            if (!endsWith(".xlsx") && !endsWith(".csv")) {
                error = "export writes .xlsx or .csv, not " + path;
                return false;
            }
            return listOf(wnd)->ExportFile(path, &error) != FALSE;
        };
        kind.table = [](QWidget*, CWnd* wnd, std::vector<std::string>& columns,
                        std::vector<std::vector<std::string>>& rows,
                        int& current) { recordTable(listOf(wnd), true, columns, rows, current); };
        kinds.Add(std::move(kind));
    }
#ifdef ORVO_CLIENT_HAVE_COMBOS
    {
        ControlKind kind;
        kind.name = "checkcombo";
        kind.matches = [](QWidget* w, CWnd*) {
            const orvo::ComboState state = orvo::ReadComboState(w);
            return state.valid && state.checkable;
        };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) {
            const orvo::ComboState state = orvo::ReadComboState(w);
            json.Field("text", state.text.ToUtf8());
            writeEntries(state, json);
            json.Field("dropped", state.dropped);
        };
        kind.check = [](QWidget* w, CWnd*, const std::string& code, bool on, std::string& error) {
            const orvo::ComboState state = orvo::ReadComboState(w);
            const int index = findEntry(w, state, code);
            if (index == CB_ERR) {
                error = "no entry " + code + " in the check combo box";
                return false;
            }
            if (::SendMessage(w, CBM_ORVO_USERCHECK, static_cast<WPARAM>(index), on) == CB_ERR) {
                error = "entry " + code + " cannot be checked (is it greyed?)";
                return false;
            }
            return true;
        };
        kinds.Add(std::move(kind));
    }
    {
        ControlKind kind;
        kind.name = "combo";
        kind.matches = [](QWidget* w, CWnd*) { return orvo::ReadComboState(w).valid; };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) {
            orvo::FlushComboList(w);
            const orvo::ComboState state = orvo::ReadComboState(w);
            json.Field("text", state.text.ToUtf8());
            writeEntries(state, json);
            json.Field("current", state.current);
            json.Field("dropped", state.dropped);
        };
        kind.pick = [](QWidget* w, CWnd*, const std::string& key, std::string& error) {
            const orvo::ComboState state = orvo::ReadComboState(w);
            const int index = findEntry(w, state, key);
            if (index == CB_ERR) {
                error = std::string("no entry with the ") + (state.keyed ? "key" : "text") + " \"" + key +
                        "\" in the combo box";
                return false;
            }
            FocusControl(w);
            ::SendMessage(w, CBM_ORVO_USERSELECT, static_cast<WPARAM>(index));
            return true;
        };
        kinds.Add(std::move(kind));
    }
    {
        ControlKind kind;
        kind.name = "date";
        kind.matches = [](QWidget* w, CWnd*) {
            int year = 0, month = 0, day = 0;
            return orvo::ReadPickerDate(w, year, month, day);
        };
        kind.dump = [](QWidget* w, CWnd*, JsonWriter& json) {
            int year = 0, month = 0, day = 0;
            orvo::ReadPickerDate(w, year, month, day);
            char text[16];
            std::snprintf(text, sizeof text, "%04d.%02d.%02d", year, month, day);
            json.Field("text", text);
        };
        kind.setDate = [](QWidget* w, int year, int month, int day, std::string& error) {
            FocusControl(w);
            if (!orvo::SetPickerDateAsUser(w, year, month, day)) {
                error = "the picker refused the date";
                return false;
            }
            return true;
        };
        kinds.Add(std::move(kind));
    }
#endif
}

} // namespace automation
