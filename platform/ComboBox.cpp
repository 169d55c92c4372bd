// The "ComboBox" window class's messages (CB_*, WM_SETTEXT, WM_GETTEXT and the layer's own CBM_ORVO_*),
// answered by the combo box widget (ComboBoxWidget.h), the class's registration, the read-out for tools, and
// CComboBox.
#include "platform/ComboBox.h"

#include "platform/ComboBoxWidget.h"
#include "platform/DialogBuilder.h"
#include "platform/QtText.h"
#include "platform/WndInternal.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace orvo {
namespace {

using combo::ComboBoxWidget;
using combo::ComboEntry;

ComboBoxWidget* comboOf(QWidget* widget) {
    return dynamic_cast<ComboBoxWidget*>(widget);
}

bool comboProc(QWidget* widget, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    ComboBoxWidget* combo = static_cast<ComboBoxWidget*>(widget);
    if (!combo)
        return false;
    const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
    const auto text = [&] { return CString(reinterpret_cast<LPCTSTR>(lParam)); };
    switch (message) {
    case CB_ADDSTRING:
        *result = lParam ? combo->Add(text()) : CB_ERR;
        return true;
    case CB_INSERTSTRING:
        *result = lParam ? combo->Insert(index, text()) : CB_ERR;
        return true;
    case CB_DELETESTRING:
        *result = combo->Delete(index);
        return true;
    case CB_RESETCONTENT:
        combo->Reset();
        *result = 0;
        return true;
    case CB_GETCOUNT:
        *result = combo->Count();
        return true;
    case CB_GETCURSEL:
        *result = combo->CurSel();
        return true;
    case CB_SETCURSEL:
        *result = combo->SetCurSel(index);
        return true;
    case CB_GETLBTEXTLEN: {
        const ComboEntry* entry = combo->EntryAt(index);
        *result = entry ? static_cast<LRESULT>(combo->TextOf(*entry).size()) : CB_ERR;
        return true;
    }
    case CB_GETLBTEXT: {
        const ComboEntry* entry = combo->EntryAt(index);
        if (!entry || !lParam) {
            *result = CB_ERR;
            return true;
        }
        const std::string_view entryText = combo->TextOf(*entry);
        std::memcpy(reinterpret_cast<char*>(lParam), entryText.data(), entryText.size());
        reinterpret_cast<char*>(lParam)[entryText.size()] = '\0';
        *result = static_cast<LRESULT>(entryText.size());
        return true;
    }
    case CB_GETITEMDATA: {
        const ComboEntry* entry = combo->EntryAt(index);
        *result = entry ? entry->data : CB_ERR;
        return true;
    }
    case CB_SETITEMDATA: {
        ComboEntry* entry = combo->EntryAt(index);
        if (entry)
            entry->data = lParam;
        *result = entry ? 0 : CB_ERR;
        return true;
    }
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
        *result = lParam ? combo->Find(index, text(), message == CB_FINDSTRINGEXACT) : CB_ERR;
        return true;
    case CB_SELECTSTRING: {
        const int found = lParam ? combo->Find(index, text(), false) : CB_ERR;
        *result = found >= 0 ? combo->SetCurSel(found) : CB_ERR;
        return true;
    }
    case CB_GETEDITSEL:
        *result = combo->GetEditSel(wParam, lParam);
        return true;
    case CB_SETEDITSEL:
        *result = combo->SetEditSel(lParam);
        return true;
    case CB_LIMITTEXT:
        *result = TRUE;
        return true;
    case CB_GETDROPPEDSTATE:
        *result = combo->Dropped() ? TRUE : FALSE;
        return true;
    case CB_SHOWDROPDOWN:
        combo->ShowDropDown(wParam != 0);
        *result = TRUE;
        return true;
    case WM_SETTEXT:
        combo->SetText(ToQString(CString(lParam ? reinterpret_cast<LPCTSTR>(lParam) : "")));
        *result = TRUE;
        return true;
    case WM_GETTEXTLENGTH:
        *result = FromQString(combo->ShownText()).GetLength();
        return true;
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam) {
            *result = 0;
            return true;
        }
        const CString shown = FromQString(combo->ShownText());
        const auto count = std::min<std::size_t>(static_cast<std::size_t>(shown.GetLength()), wParam - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), shown.GetString(), count);
        reinterpret_cast<char*>(lParam)[count] = '\0';
        *result = static_cast<LRESULT>(count);
        return true;
    }
    case CBM_ORVO_SETITEMKEY:
        if (!combo->EntryAt(index)) {
            *result = CB_ERR;
            return true;
        }
        combo->SetKey(index, text());
        *result = 0;
        return true;
    case CBM_ORVO_GETITEMKEY: {
        const ComboEntry* entry = combo->EntryAt(index);
        if (entry && lParam)
            *reinterpret_cast<CString*>(lParam) = entry->key;
        *result = entry ? 0 : CB_ERR;
        return true;
    }
    case CBM_ORVO_FINDKEY:
        *result = lParam ? combo->FindKey(text()) : CB_ERR;
        return true;
    case CBM_ORVO_SETCHECKABLE:
        combo->SetCheckable(wParam != 0);
        *result = 0;
        return true;
    case CBM_ORVO_GETCHECK: {
        const ComboEntry* entry = combo->EntryAt(index);
        *result = entry ? (entry->checked ? 1 : 0) : CB_ERR;
        return true;
    }
    case CBM_ORVO_SETCHECK:
        if (!combo->EntryAt(index)) {
            *result = CB_ERR;
            return true;
        }
        combo->SetChecked(index, lParam != 0);
        *result = 0;
        return true;
    case CBM_ORVO_USERCHECK: {
        // A greyed entry cannot be checked: refused, as a click on it does nothing.
        const ComboEntry* entry = combo->EntryAt(index);
        *result = entry && entry->enabled ? 0 : CB_ERR;
        if (*result == 0)
            combo->UserCheck(index, lParam != 0);
        return true;
    }
    case CBM_ORVO_SETITEMENABLED: {
        ComboEntry* entry = combo->EntryAt(index);
        if (entry)
            entry->enabled = lParam != 0;
        *result = entry ? 0 : CB_ERR;
        return true;
    }
    case CBM_ORVO_ADDBATCH: {
        const auto* batch = reinterpret_cast<const ComboBatch*>(lParam);
        *result = batch && (batch->entries || batch->count == 0)
                      ? combo->AddBatch(batch->entries, batch->count)
                      : CB_ERR;
        return true;
    }
    case CBM_ORVO_SETTLE:
        *result = combo->Settle();
        return true;
    case CBM_ORVO_USERSELECT:
        if (const ComboEntry* entry = combo->EntryAt(index); !entry || !entry->enabled) {
            *result = CB_ERR;
            return true;
        }
        combo->UserSelect(index, combo->Dropped());
        *result = index;
        return true;
    default:
        return false;
    }
}

bool anyComboProc(QWidget* widget, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return comboOf(widget) && comboProc(widget, message, wParam, lParam, result);
}

WindowClass comboBoxClass() {
    WindowClass wc;
    wc.kind = "combo";
    wc.create = [](QWidget* parent, const WindowCreateParams& params) -> QWidget* {
        auto* combo = new ComboBoxWidget(parent, params.style);
        combo->setWindowTitle(ToQString(params.text));
        return combo;
    };
    wc.proc = anyComboProc;
    return wc;
}

[[maybe_unused]] const bool registered = [] {
    RegisterWindowClass(wc::kComboBox, comboBoxClass());
    return true;
}();

} // namespace

ComboState ReadComboState(HWND hWnd) {
    ComboState state;
    const ComboBoxWidget* combo = IsLayerWindow(hWnd) ? comboOf(hWnd) : nullptr;
    if (!combo)
        return state;
    state.valid = true;
    state.editable = combo->Editable();
    state.sorted = combo->Sorted();
    state.keyed = combo->Keyed();
    state.checkable = combo->Checkable();
    state.dropped = combo->Dropped();
    state.current = combo->CurSel();
    state.text = FromQString(combo->ShownText());
    state.entries.reserve(static_cast<std::size_t>(combo->Count()));
    for (int i = 0; i < combo->Count(); ++i) {
        const ComboEntry& entry = combo->At(i);
        state.entries.push_back({CString(combo->TextOf(entry)), entry.key, entry.data, entry.checked});
    }
    return state;
}

bool ComboBoxWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    return anyComboProc(hWnd, message, wParam, lParam, result);
}

void FlushComboList(HWND hWnd) {
    if (ComboBoxWidget* combo = IsLayerWindow(hWnd) ? comboOf(hWnd) : nullptr)
        combo->Flush();
}

} // namespace orvo

LRESULT CComboBox::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // The box's own messages go straight to its window class: a list rebuilt keystroke by keystroke sends
    // thousands of them.
    const bool own = (message >= CB_GETEDITSEL && message <= CB_FINDSTRINGEXACT) ||
                     (message >= CBM_ORVO_FIRST && message <= CBM_ORVO_SETTLE);
    LRESULT result = 0;
    if (own && m_hWnd && orvo::ComboBoxWindowProc(m_hWnd, message, wParam, lParam, &result))
        return result;
    return CWnd::DefWindowProc(message, wParam, lParam);
}

int CComboBox::GetLBText(int index, CString& text) {
    const int length = GetLBTextLen(index);
    if (length < 0) {
        text.Empty();
        return CB_ERR;
    }
    std::string buffer(static_cast<std::size_t>(length) + 1, '\0');
    SendMessage(CB_GETLBTEXT, toW(index), reinterpret_cast<LPARAM>(buffer.data()));
    buffer.resize(static_cast<std::size_t>(length));
    text = CString(std::move(buffer));
    return length;
}
