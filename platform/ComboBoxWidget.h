// The widget behind the "ComboBox" window class, private to the window layer. It keeps the list itself
// (entries in a pool, their order in blocks of indexes) and answers the CB_* messages from it; Qt's view of
// the list is a model published in one reset at the end of each burst of changes. Its files:
// ComboEntries.cpp (storage and sort order), ComboPopup.cpp (the drop-down list and its keys),
// ComboBoxWidget.cpp (the box: edit field, selection, focus, keys while closed) and ComboBox.cpp (the
// messages and CComboBox).
#pragma once

#include "platform/ComboBox.h"
#include "platform/ComboEntryOrder.h"

#include <QAbstractListModel>
#include <QFrame>
#include <QLineEdit>
#include <QString>
#include <QStyleOptionComboBox>
#include <QWidget>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QFocusEvent;
class QKeyEvent;
class QListView;

namespace orvo::combo {

// The sort order, byte by byte: ASCII letters folded to lower case, GBK double-byte characters kept as
// they are (a trail byte may look like a letter). Compared as they are read, with no folded copies: a
// rebuilt list of 20,000 entries would otherwise make 20,000 more strings. <0, 0 or >0 as for memcmp.
int compareFolded(std::string_view a, std::string_view b);
bool sortsBefore(std::string_view a, std::string_view b);

// An entry of the list. Its text lies in the widget's text store (ComboBoxWidget::TextOf): a list of
// 20,000 entries rebuilt keystroke by keystroke would otherwise allocate and free a string per entry.
struct ComboEntry {
    std::size_t textAt = 0;
    std::size_t textLength = 0;
    CString key;
    LPARAM data = 0;
    bool checked = false;
    bool enabled = true;
    mutable QString display; // made when first shown
    mutable bool hasDisplay = false;
};

class ComboBoxWidget;

// Qt's view of the list: the row count is the one last published; rows are read from the widget's list.
class ComboListModel : public QAbstractListModel {
public:
    explicit ComboListModel(ComboBoxWidget* owner) : QAbstractListModel(nullptr), m_owner(owner) {}
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : m_published; }
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void Publish(int count) {
        beginResetModel();
        m_published = count;
        endResetModel();
    }
    void RowChanged(int row) {
        if (row >= 0 && row < m_published)
            emit dataChanged(index(row), index(row));
    }

private:
    ComboBoxWidget* m_owner;
    int m_published = 0;
};

class ComboBoxWidget : public QWidget {
public:
    ComboBoxWidget(QWidget* parent, DWORD style);
    ~ComboBoxWidget() override;

    // ---- the list ----
    int Count() const { return m_order.Size(); }
    const ComboEntry* EntryAt(int index) const { return valid(index) ? &m_pool[m_order.At(index)] : nullptr; }
    ComboEntry* EntryAt(int index) { return valid(index) ? &m_pool[m_order.At(index)] : nullptr; }
    // An entry whose index the caller knows to be valid.
    // Walks over the whole list go through the flat order.
    const ComboEntry& At(int index) const { return m_pool[m_order.Flat()[static_cast<std::size_t>(index)]]; }
    ComboEntry& At(int index) { return m_pool[m_order.Flat()[static_cast<std::size_t>(index)]]; }
    bool Sorted() const { return (m_style & CBS_SORT) != 0; }
    bool Editable() const { return m_edit != nullptr; }
    bool Checkable() const { return m_checkable; }
    bool Keyed() const { return m_keyed; }
    bool Dropped() const { return m_popup && m_popup->isVisible(); }
    int CurSel() const { return m_curSel; }

    // The text of an entry and the QString shown for it.
    std::string_view TextOf(const ComboEntry& entry) const {
        return std::string_view(m_texts).substr(entry.textAt, entry.textLength);
    }
    const QString& Display(const ComboEntry& entry) const;
    int Add(const CString& text);

    // Entries with their item data, placed as CB_ADDSTRING and CB_SETITEMDATA place them one after another,
    // in one step: a sorted box sorts the batch (stably, and not at all when it comes in order) and merges
    // it into its list, each entry after the equal ones already there; other boxes append it. The count.
    int AddBatch(const ComboBatchEntry* entries, std::size_t count);
    int Insert(int index, const CString& text);
    int Delete(int index);
    void Reset();
    int Find(int startAfter, const CString& text, bool exact) const;
    int FindKey(const CString& key) const;
    void SetKey(int index, const CString& key);
    void SetChecked(int index, bool checked);
    void SetCheckable(bool checkable);

    // ---- selection and text ----
    int SetCurSel(int index);

    QString ShownText() const { return m_edit ? m_edit->text() : m_listText; }

    void SetText(const QString& text);
    LRESULT GetEditSel(WPARAM wParam, LPARAM lParam) const;
    LRESULT SetEditSel(LPARAM lParam);

    // ---- drop-down ----
    void ShowDropDown(bool show);

    // A user's choice of an entry: selection, then the notifications Win32 sends for a pick in the list.
    void UserSelect(int index, bool fromList);

    // What typing left in the edit field becomes a choice: the entry whose text (any case) or key the
    // text is, told to the parent when it differs from the last one told; any other text is cleared.
    int Settle();

    // A user's click on an entry's check box.
    void UserCheck(int index, bool checked);
    void Flush();
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool valid(int index) const { return index >= 0 && index < Count(); }

    // An entry with its text put in the text store.
    ComboEntry newEntry(std::string_view text);
    int place(int at, ComboEntry entry);
    void listChanged();
    void setShownText(const QString& text);
    void syncViewCurrent();
    QStyleOptionComboBox styleOption() const;
    int fieldHeight() const;
    void layoutEdit();
    void ensurePopup();
    void placePopup();
    void openPopup();
    void closePopup(bool committed);
    void popupHidden();

    // Up and Down step through the list without opening it; F4 and Alt+Up/Down open it.
    bool handleClosedKey(QKeyEvent* event);

    // Keys that reach the open list.
    bool handlePopupKey(QKeyEvent* event);

    // Arrows and page keys in the open list choose, as they do in a closed box: the entry is selected, its
    // text written into the edit field and the parent told; the list stays open. A check box list only
    // moves its highlight.
    void moveInOpenList(int wanted);

    // Escape closes the list and takes back what its arrows chose: the selection and the text they found
    // come back, and the parent is told when the selection changes again.
    void cancelOpenListChoice();
    void userEdited(const QString& text);
    void focusChanged(QFocusEvent* event, bool in);
    DWORD m_style;
    std::vector<ComboEntry> m_pool;
    std::string m_texts; // the entries' texts one after another; emptied with the list
    EntryOrder m_order;  // display order: indexes into m_pool
    int m_curSel = -1;
    bool m_keyed = false;
    bool m_checkable = false;
    bool m_flushPending = false;
    bool m_committing = false;
    bool m_adjusting = false;
    bool m_typed = false;       // the user typed into the edit field since the text was last settled
    bool m_unannounced = false; // typing changed the selection and the parent has not been told
    struct ChoiceBeforeArrows {
        int selection = -1;
        QString text;
    };
    std::optional<ChoiceBeforeArrows> m_beforeArrows; // while the open list's arrows are choosing
    QString m_listText;                               // drop-down list: the text shown
    QLineEdit* m_edit = nullptr;
    ComboListModel* m_model;
    QFrame* m_popup = nullptr;
    QListView* m_view = nullptr;
    // Kept apart from m_view: the filter still sees the viewport's events while the view is being
    // destroyed, when asking the half-destroyed view for its viewport is undefined behaviour.
    QWidget* m_viewport = nullptr;
    bool m_forwardingKey = false;
};

} // namespace orvo::combo
