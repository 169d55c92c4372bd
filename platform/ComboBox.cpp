// The "ComboBox" window class. The widget keeps the list itself (entries in a pool, their order in a
// vector of indexes) and answers the CB_* messages from it; Qt's view of the list is a model that is
// published in one reset at the end of each burst of changes, so a rebuild of 20,000 entries costs one
// reset instead of 20,000 row insertions. The drop-down is a popup list under the box; while it is open
// the keys the list does not use travel on to the edit field, so typing goes on as on Win32.
#include "platform/ComboBox.h"

#include "platform/DialogBuilder.h"
#include "platform/QtText.h"
#include "platform/WndInternal.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>

namespace orvo {
namespace {

constexpr int kMaxVisibleRows = 15;

// The sort order, byte by byte: ASCII letters folded to lower case, GBK double-byte characters kept as
// they are (a trail byte may look like a letter). Compared as they are read, with no folded copies: a
// rebuilt list of 20,000 entries would otherwise make 20,000 more strings. <0, 0 or >0 as for memcmp.
int compareFolded(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    bool trail = false; // the bytes at i are trail bytes: while the texts agree, both are or neither is
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (trail) {
            trail = false;
        } else {
            trail = x >= 0x81; // a lead byte, the same in both when they agree
            if (x >= 'A' && x <= 'Z')
                x = static_cast<unsigned char>(x - 'A' + 'a');
            if (y >= 'A' && y <= 'Z')
                y = static_cast<unsigned char>(y - 'A' + 'a');
        }
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool sortsBefore(std::string_view a, std::string_view b) {
    return compareFolded(a, b) < 0;
}

// Byte offsets of the GBK text <-> positions in the QString shown.
int bytesBefore(const QString& text, int qtPosition) {
    return FromQString(text.left(std::clamp(qtPosition, 0, static_cast<int>(text.size())))).GetLength();
}
int qtPositionOf(const QString& text, int bytes) {
    if (bytes <= 0)
        return 0;
    for (int position = 1; position <= text.size(); ++position)
        if (bytesBefore(text, position) >= bytes)
            return position;
    return static_cast<int>(text.size());
}

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

// The display order of a list: entry ids in blocks of a few hundred, so that a sorted insertion into a
// list of 20,000 moves one block instead of the whole order. A flat copy serves the walks over the whole
// list and is made again only when one is asked for after a change.
class EntryOrder {
public:
    int Size() const { return m_size; }

    std::uint32_t At(int index) const {
        if (m_flatValid)
            return m_flat[static_cast<std::size_t>(index)];
        for (const auto& block : m_blocks) {
            const int count = static_cast<int>(block.size());
            if (index < count)
                return block[static_cast<std::size_t>(index)];
            index -= count;
        }
        return 0; // not reached for a valid index
    }

    const std::vector<std::uint32_t>& Flat() const {
        if (!m_flatValid) {
            m_flat.clear();
            m_flat.reserve(static_cast<std::size_t>(m_size));
            for (const auto& block : m_blocks)
                m_flat.insert(m_flat.end(), block.begin(), block.end());
            m_flatValid = true;
        }
        return m_flat;
    }

    // The index after every id that is not greater than the key (greater(key, id) tells), in an order that
    // is sorted by that comparison.
    template <typename Greater> int UpperBound(const Greater& greater) const {
        // The first block whose last entry sorts after the key, found by halving; then the place inside it.
        const auto block = std::partition_point(m_blocks.begin(), m_blocks.end(),
                                                [&](const auto& b) { return !greater(b.back()); });
        int before = 0;
        for (auto it = m_blocks.begin(); it != block; ++it)
            before += static_cast<int>(it->size());
        if (block == m_blocks.end())
            return before;
        const auto at = std::partition_point(block->begin(), block->end(),
                                             [&](std::uint32_t id) { return !greater(id); });
        return before + static_cast<int>(at - block->begin());
    }

    void Insert(int index, std::uint32_t id) {
        m_flatValid = false;
        ++m_size;
        if (m_blocks.empty()) {
            m_blocks.push_back({id});
            return;
        }
        std::size_t b = 0;
        for (; b + 1 < m_blocks.size() && index > static_cast<int>(m_blocks[b].size()); ++b)
            index -= static_cast<int>(m_blocks[b].size());
        auto& block = m_blocks[b];
        block.insert(block.begin() + std::min(index, static_cast<int>(block.size())), id);
        if (block.size() > 2 * kBlock) {
            std::vector<std::uint32_t> tail(block.begin() + kBlock, block.end());
            block.resize(kBlock);
            m_blocks.insert(m_blocks.begin() + static_cast<long>(b) + 1, std::move(tail));
        }
    }

    void Erase(int index) {
        m_flatValid = false;
        for (std::size_t b = 0; b < m_blocks.size(); ++b) {
            const int count = static_cast<int>(m_blocks[b].size());
            if (index < count) {
                m_blocks[b].erase(m_blocks[b].begin() + index);
                if (m_blocks[b].empty())
                    m_blocks.erase(m_blocks.begin() + static_cast<long>(b));
                --m_size;
                return;
            }
            index -= count;
        }
    }

    void Clear() {
        m_blocks.clear();
        m_flat.clear();
        m_flatValid = true;
        m_size = 0;
    }

    // The whole order at once.
    void Assign(std::vector<std::uint32_t> flat) {
        m_blocks.clear();
        for (std::size_t at = 0; at < flat.size(); at += kBlock)
            m_blocks.emplace_back(flat.begin() + static_cast<long>(at),
                                  flat.begin() + static_cast<long>(std::min(at + kBlock, flat.size())));
        m_size = static_cast<int>(flat.size());
        m_flat = std::move(flat);
        m_flatValid = true;
    }

private:
    static constexpr std::size_t kBlock = 256;
    std::vector<std::vector<std::uint32_t>> m_blocks;
    int m_size = 0;
    mutable std::vector<std::uint32_t> m_flat;
    mutable bool m_flatValid = true;
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
    ~ComboBoxWidget() override {
        // An open list goes quietly: a box being destroyed tells its parent nothing more.
        if (m_popup) {
            m_popup->removeEventFilter(this);
            delete m_popup;
        }
        delete m_model;
    }

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
    const QString& Display(const ComboEntry& entry) const {
        if (!entry.hasDisplay) {
            entry.display = ToQString(CString(TextOf(entry)));
            entry.hasDisplay = true;
        }
        return entry.display;
    }

    int Add(const CString& text) {
        int at = Count();
        if (Sorted())
            at = m_order.UpperBound(
                [&](std::uint32_t id) { return sortsBefore(text.str(), TextOf(m_pool[id])); });
        return place(at, newEntry(text.str()));
    }

    // Entries with their item data, placed as CB_ADDSTRING and CB_SETITEMDATA place them one after another,
    // in one step: a sorted box sorts the batch (stably, and not at all when it comes in order) and merges
    // it into its list, each entry after the equal ones already there; other boxes append it. The count.
    int AddBatch(const ComboBatchEntry* entries, std::size_t count) {
        const auto first = static_cast<std::uint32_t>(m_pool.size());
        m_pool.reserve(m_pool.size() + count);
        for (std::size_t i = 0; i < count; ++i) {
            m_pool.push_back(newEntry(entries[i].text.str()));
            m_pool.back().data = static_cast<LPARAM>(entries[i].data);
        }
        std::vector<std::uint32_t> added(count);
        std::iota(added.begin(), added.end(), first);
        const auto byFold = [this](std::uint32_t a, std::uint32_t b) {
            return sortsBefore(TextOf(m_pool[a]), TextOf(m_pool[b]));
        };
        const std::vector<std::uint32_t>& present = m_order.Flat();
        std::vector<std::uint32_t> order;
        order.reserve(present.size() + count);
        if (!Sorted()) {
            order = present;
            order.insert(order.end(), added.begin(), added.end());
        } else if (std::is_sorted(present.begin(), present.end(), byFold)) {
            if (!std::is_sorted(added.begin(), added.end(), byFold))
                std::stable_sort(added.begin(), added.end(), byFold);
            std::merge(present.begin(), present.end(), added.begin(), added.end(), std::back_inserter(order),
                       byFold); // equal entries: those of the list first
        } else {
            // A list put out of order by CB_INSERTSTRING: each entry where CB_ADDSTRING's search puts it.
            for (const std::uint32_t id : added) {
                const int at = m_order.UpperBound([&](std::uint32_t other) { return byFold(id, other); });
                m_order.Insert(at, id);
                if (m_curSel >= at)
                    ++m_curSel;
            }
            listChanged();
            return Count();
        }
        if (m_curSel >= 0) { // the selected entry keeps its selection wherever it went
            const std::uint32_t selected = present[static_cast<std::size_t>(m_curSel)];
            m_curSel = static_cast<int>(std::find(order.begin(), order.end(), selected) - order.begin());
        }
        m_order.Assign(std::move(order));
        listChanged();
        return Count();
    }

    int Insert(int index, const CString& text) {
        if (index < -1 || index > Count())
            return CB_ERR;
        return place(index == -1 ? Count() : index, newEntry(text.str()));
    }

    int Delete(int index) {
        if (!valid(index))
            return CB_ERR;
        m_order.Erase(index);
        if (m_curSel == index)
            m_curSel = -1;
        else if (m_curSel > index)
            --m_curSel;
        listChanged();
        return Count();
    }

    void Reset() {
        m_pool.clear();
        m_texts.clear();
        m_order.Clear();
        m_curSel = -1;
        m_keyed = false;
        m_typed = false;
        m_unannounced = false;
        setShownText(QString());
        listChanged();
    }

    int Find(int startAfter, const CString& text, bool exact) const {
        const int count = Count();
        if (count == 0)
            return CB_ERR;
        const std::string_view wanted = text.str();
        const int first = (startAfter < -1 || startAfter >= count) ? 0 : startAfter + 1;
        for (int step = 0; step < count; ++step) {
            const int i = (first + step) % count;
            std::string_view candidate = TextOf(At(i));
            if (!exact && candidate.size() > wanted.size())
                candidate = candidate.substr(0, wanted.size()); // folding reads left to right: a prefix
            if (compareFolded(candidate, wanted) == 0)
                return i;
        }
        return CB_ERR;
    }

    int FindKey(const CString& key) const {
        for (int i = 0; i < Count(); ++i)
            if (At(i).key == key)
                return i;
        return CB_ERR;
    }

    void SetKey(int index, const CString& key) {
        m_pool[m_order.At(index)].key = key;
        m_keyed = true;
    }

    void SetChecked(int index, bool checked) {
        m_pool[m_order.At(index)].checked = checked;
        m_model->RowChanged(index);
    }

    void SetCheckable(bool checkable) {
        m_checkable = checkable;
        if (m_edit)
            m_edit->setReadOnly(checkable);
        listChanged();
    }

    // ---- selection and text ----
    int SetCurSel(int index) {
        // The selection is the program's (or a settled user's) from here on: nothing typed is pending.
        m_typed = false;
        m_unannounced = false;
        const ComboEntry* entry = EntryAt(index);
        if (!entry) {
            m_curSel = -1;
            setShownText(QString());
            syncViewCurrent();
            return CB_ERR;
        }
        m_curSel = index;
        setShownText(Display(*entry));
        if (m_edit && !m_checkable)
            m_edit->selectAll();
        syncViewCurrent();
        return index;
    }

    QString ShownText() const { return m_edit ? m_edit->text() : m_listText; }

    void SetText(const QString& text) {
        if (m_edit) {
            setShownText(text);
            return;
        }
        // A drop-down list shows only its entries: the text selects the entry that has it.
        const int found = Find(-1, FromQString(text), true);
        SetCurSel(found);
    }

    LRESULT GetEditSel(WPARAM wParam, LPARAM lParam) const {
        if (!m_edit)
            return CB_ERR;
        const QString text = m_edit->text();
        int start = m_edit->cursorPosition();
        int end = start;
        if (m_edit->hasSelectedText()) {
            start = m_edit->selectionStart();
            end = start + static_cast<int>(m_edit->selectedText().size());
        }
        const auto startBytes = static_cast<DWORD>(bytesBefore(text, start));
        const auto endBytes = static_cast<DWORD>(bytesBefore(text, end));
        if (wParam)
            *reinterpret_cast<DWORD*>(wParam) = startBytes;
        if (lParam)
            *reinterpret_cast<DWORD*>(lParam) = endBytes;
        return static_cast<LRESULT>(MAKELPARAM(static_cast<int>(startBytes), static_cast<int>(endBytes)));
    }

    LRESULT SetEditSel(LPARAM lParam) {
        if (!m_edit)
            return CB_ERR;
        const QString text = m_edit->text();
        const int startBytes = static_cast<short>(LOWORD(static_cast<std::uintptr_t>(lParam)));
        const int endBytes = static_cast<short>(HIWORD(static_cast<std::uintptr_t>(lParam)));
        if (startBytes < 0) { // -1: no selection
            m_edit->deselect();
            return TRUE;
        }
        const int start = qtPositionOf(text, startBytes);
        const int end = endBytes < 0 ? static_cast<int>(text.size()) : qtPositionOf(text, endBytes);
        if (end == start)
            m_edit->setCursorPosition(start);
        else
            m_edit->setSelection(start, end - start);
        return TRUE;
    }

    // ---- drop-down ----
    void ShowDropDown(bool show) {
        if (show == Dropped())
            return;
        if (show)
            openPopup();
        else
            closePopup(false);
    }

    // A user's choice of an entry: selection, then the notifications Win32 sends for a pick in the list.
    void UserSelect(int index, bool fromList) {
        QPointer<ComboBoxWidget> self(this);
        const int previous = m_curSel;
        const bool unannounced = m_unannounced; // typing chose this entry without telling the parent
        SetCurSel(index);
        if (fromList) {
            m_committing = true;
            NotifyParent(this, CBN_SELENDOK);
            if (self)
                closePopup(true);
            if (self)
                m_committing = false;
        }
        if (self && (m_curSel != previous || fromList || unannounced))
            NotifyParent(this, CBN_SELCHANGE);
    }

    // What typing left in the edit field becomes a choice: the entry whose text (any case) or key the
    // text is, told to the parent when it differs from the last one told; any other text is cleared.
    int Settle() {
        if (!m_edit || m_checkable || !m_typed)
            return m_curSel >= 0 ? m_curSel : CB_ERR;
        const int previous = m_curSel;
        const bool unannounced = m_unannounced;
        const CString typed = FromQString(m_edit->text().trimmed());
        int found = CB_ERR;
        if (!typed.IsEmpty()) {
            found = Find(-1, typed, true);
            if (found < 0)
                found = FindKey(typed);
            if (const ComboEntry* entry = EntryAt(found); entry && !entry->enabled)
                found = CB_ERR;
        }
        SetCurSel(found);
        if (found != previous || unannounced)
            NotifyParent(this, CBN_SELCHANGE);
        return found;
    }

    // A user's click on an entry's check box.
    void UserCheck(int index, bool checked) {
        ComboEntry* entry = EntryAt(index);
        if (!entry || !entry->enabled || entry->checked == checked)
            return;
        SetChecked(index, checked);
        NotifyParent(this, CBN_ORVO_CHECKCHANGE);
    }

    void Flush() {
        if (!m_flushPending)
            return;
        m_flushPending = false;
        m_order.Flat(); // the view reads rows by index from here on
        m_model->Publish(Count());
        syncViewCurrent();
        if (Dropped())
            placePopup();
    }

    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QStyleOptionComboBox option = styleOption();
        style()->drawComplexControl(QStyle::CC_ComboBox, &option, &painter, this);
        if (!m_edit)
            style()->drawControl(QStyle::CE_ComboBoxLabel, &option, &painter, this);
    }

    void resizeEvent(QResizeEvent*) override {
        // As on Win32 the window is the selection field; the height the template gives includes the list.
        const int field = fieldHeight();
        if (height() != field && !m_adjusting) {
            m_adjusting = true;
            resize(width(), field);
            m_adjusting = false;
            return;
        }
        layoutEdit();
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton || !isEnabled())
            return;
        if (focusPolicy() != Qt::NoFocus)
            setFocus(Qt::MouseFocusReason);
        ShowDropDown(!Dropped());
    }

    void keyPressEvent(QKeyEvent* event) override {
        // Keys sent to the box itself go to its edit field. A key the edit field ignores comes back up to
        // the box as its parent; it is then handled here instead of being sent down again for ever.
        if (m_edit && !m_forwardingKey) {
            m_forwardingKey = true;
            QCoreApplication::sendEvent(m_edit, event);
            m_forwardingKey = false;
            return;
        }
        if (!handleClosedKey(event))
            QWidget::keyPressEvent(event);
    }

    void focusInEvent(QFocusEvent* event) override {
        QWidget::focusInEvent(event);
        focusChanged(event, true);
    }
    void focusOutEvent(QFocusEvent* event) override {
        QWidget::focusOutEvent(event);
        focusChanged(event, false);
    }

private:
    bool valid(int index) const { return index >= 0 && index < Count(); }

    // An entry with its text put in the text store.
    ComboEntry newEntry(std::string_view text) {
        ComboEntry entry;
        entry.textAt = m_texts.size();
        entry.textLength = text.size();
        m_texts.append(text);
        return entry;
    }

    int place(int at, ComboEntry entry) {
        m_pool.push_back(std::move(entry));
        m_order.Insert(at, static_cast<std::uint32_t>(m_pool.size() - 1));
        if (m_curSel >= at)
            ++m_curSel;
        listChanged();
        return at;
    }

    void listChanged() {
        if (m_flushPending)
            return;
        m_flushPending = true;
        QMetaObject::invokeMethod(
            this, [this] { Flush(); }, Qt::QueuedConnection);
        update();
    }

    void setShownText(const QString& text) {
        if (m_edit) {
            if (m_edit->text() != text)
                m_edit->setText(text);
        } else {
            m_listText = text;
        }
        setWindowTitle(text); // what CWnd::GetWindowText reads from a widget it does not know
        update();
    }

    void syncViewCurrent() {
        if (!m_view || m_flushPending)
            return;
        const QModelIndex index = m_model->index(m_curSel, 0);
        m_view->setCurrentIndex(index);
        if (index.isValid())
            m_view->scrollTo(index);
    }

    QStyleOptionComboBox styleOption() const {
        QStyleOptionComboBox option;
        option.initFrom(this);
        option.editable = m_edit != nullptr;
        option.frame = true;
        option.currentText = m_edit ? QString() : m_listText;
        if (Dropped())
            option.state |= QStyle::State_On;
        if (m_edit && m_edit->hasFocus())
            option.state |= QStyle::State_HasFocus;
        option.subControls = QStyle::SC_All;
        return option;
    }

    int fieldHeight() const {
        QStyleOptionComboBox option = styleOption();
        const QSize contents(0, fontMetrics().height());
        return style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, this).height();
    }

    void layoutEdit() {
        if (!m_edit)
            return;
        QStyleOptionComboBox option = styleOption();
        m_edit->setGeometry(
            style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this));
    }

    void ensurePopup() {
        if (m_popup)
            return;
        m_popup = new QFrame(this, Qt::Popup);
        m_popup->setFrameShape(QFrame::Box);
        m_popup->setAttribute(Qt::WA_NoMouseReplay); // a click on the box while open only closes the list
        m_popup->setObjectName(QStringLiteral("comboPopup"));
        auto* layout = new QVBoxLayout(m_popup);
        layout->setContentsMargins(1, 1, 1, 1);
        m_view = new QListView(m_popup);
        m_view->setModel(m_model);
        m_view->setUniformItemSizes(true);
        m_view->setFocusPolicy(Qt::NoFocus);
        m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_view->setSelectionMode(QAbstractItemView::SingleSelection);
        m_view->setMouseTracking(true);
        m_view->setFont(font());
        layout->addWidget(m_view);
        m_popup->installEventFilter(this);
        m_view->installEventFilter(this);
        m_viewport = m_view->viewport();
        m_viewport->installEventFilter(this);
        QObject::connect(m_view, &QListView::entered, m_view,
                         [this](const QModelIndex& index) { m_view->setCurrentIndex(index); });
        QObject::connect(m_view, &QListView::clicked, m_view, [this](const QModelIndex& index) {
            if (!index.isValid())
                return;
            if (m_checkable) {
                if (const ComboEntry* entry = EntryAt(index.row()))
                    UserCheck(index.row(), !entry->checked);
            } else if (const ComboEntry* entry = EntryAt(index.row()); entry && entry->enabled) {
                UserSelect(index.row(), true);
            }
        });
    }

    void placePopup() {
        const int rows = std::clamp(Count(), 1, kMaxVisibleRows);
        int rowHeight = m_view->sizeHintForRow(0);
        if (rowHeight <= 0)
            rowHeight = fontMetrics().height() + 4;
        const int frame = 2 + 2 * m_view->frameWidth();
        const QPoint below = mapToGlobal(QPoint(0, height()));
        m_popup->setGeometry(below.x(), below.y(), width(), rows * rowHeight + frame);
    }

    void openPopup() {
        QPointer<ComboBoxWidget> self(this);
        NotifyParent(this, CBN_DROPDOWN);
        if (!self || Dropped())
            return;
        ensurePopup();
        Flush();
        m_committing = false;
        m_beforeArrows.reset();
        placePopup();
        syncViewCurrent();
        m_popup->show();
        update();
    }

    void closePopup(bool committed) {
        if (!Dropped())
            return;
        m_committing = committed;
        m_popup->hide(); // the hide event sends the notifications
    }

    void popupHidden() {
        QPointer<ComboBoxWidget> self(this);
        if (!m_committing)
            NotifyParent(this, CBN_SELENDCANCEL);
        if (self)
            NotifyParent(this, CBN_CLOSEUP);
        if (self)
            update();
    }

    // Up and Down step through the list without opening it; F4 and Alt+Up/Down open it.
    bool handleClosedKey(QKeyEvent* event) {
        const int key = event->key();
        const bool alt = event->modifiers() & Qt::AltModifier;
        if (key == Qt::Key_F4 || (alt && (key == Qt::Key_Down || key == Qt::Key_Up))) {
            ShowDropDown(true);
            return true;
        }
        if (m_checkable)
            return false;
        int target = -2;
        switch (key) {
        case Qt::Key_Up:
            target = std::max(m_curSel - 1, 0);
            break;
        case Qt::Key_Down:
            target = std::min(m_curSel + 1, Count() - 1);
            break;
        case Qt::Key_Home:
            target = m_edit ? -2 : 0;
            break;
        case Qt::Key_End:
            target = m_edit ? -2 : Count() - 1;
            break;
        default:
            if (!m_edit && !event->text().isEmpty() && event->text().at(0).isPrint())
                target = Find(m_curSel, FromQString(event->text()), false);
            else
                return false;
        }
        if (target == -2)
            return false;
        if (target >= 0 && target < Count() && target != m_curSel)
            UserSelect(target, false);
        return true;
    }

    // Keys that reach the open list.
    bool handlePopupKey(QKeyEvent* event) {
        Flush(); // the keys act on the list as it is now, even before the event loop got to it
        const int key = event->key();
        const bool alt = event->modifiers() & Qt::AltModifier;
        const int current = m_view->currentIndex().isValid() ? m_view->currentIndex().row() : -1;
        auto commitCurrent = [&] {
            if (current >= 0 && !m_checkable)
                UserSelect(current, true);
            else
                closePopup(m_checkable);
        };
        switch (key) {
        case Qt::Key_Escape:
            cancelOpenListChoice();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            commitCurrent();
            return true;
        case Qt::Key_F4:
            commitCurrent();
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (alt) {
                commitCurrent();
                return true;
            }
            moveInOpenList(current + (key == Qt::Key_Down ? 1 : -1));
            return true;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            moveInOpenList(current + (key == Qt::Key_PageDown ? kMaxVisibleRows : -kMaxVisibleRows));
            return true;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: {
            // The list closes with the choice kept, and the focus moves on as Tab always moves it.
            QPointer<ComboBoxWidget> self(this);
            const bool forward = key == Qt::Key_Tab && !(event->modifiers() & Qt::ShiftModifier);
            commitCurrent();
            if (self && hasFocus())
                focusNextPrevChild(forward);
            return true;
        }
        case Qt::Key_Space:
            if (m_checkable) {
                if (const ComboEntry* entry = EntryAt(current))
                    UserCheck(current, !entry->checked);
                return true;
            }
            break;
        default:
            break;
        }
        if (m_edit) { // typing goes on in the edit field while the list is open
            QCoreApplication::sendEvent(m_edit, event);
            return true;
        }
        if (!event->text().isEmpty() && event->text().at(0).isPrint()) {
            const int found = Find(current, FromQString(event->text()), false);
            if (found >= 0)
                m_view->setCurrentIndex(m_model->index(found, 0));
        }
        return true;
    }

    // Arrows and page keys in the open list choose, as they do in a closed box: the entry is selected, its
    // text written into the edit field and the parent told; the list stays open. A check box list only
    // moves its highlight.
    void moveInOpenList(int wanted) {
        if (Count() == 0)
            return;
        const int target = std::clamp(wanted, 0, Count() - 1);
        if (m_checkable) {
            m_view->setCurrentIndex(m_model->index(target, 0));
            return;
        }
        const ComboEntry* entry = EntryAt(target);
        if (!entry || !entry->enabled) {
            m_view->setCurrentIndex(m_model->index(target, 0));
            return;
        }
        const int previous = m_curSel;
        const bool unannounced = m_unannounced;
        if (!m_beforeArrows)
            m_beforeArrows = ChoiceBeforeArrows{previous, ShownText()};
        SetCurSel(target);
        if (target != previous || unannounced)
            NotifyParent(this, CBN_SELCHANGE);
    }

    // Escape closes the list and takes back what its arrows chose: the selection and the text they found
    // come back, and the parent is told when the selection changes again.
    void cancelOpenListChoice() {
        QPointer<ComboBoxWidget> self(this);
        if (const std::optional<ChoiceBeforeArrows> before = std::exchange(m_beforeArrows, std::nullopt)) {
            const int chosen = m_curSel;
            SetCurSel(before->selection);
            if (before->selection < 0)
                setShownText(before->text);
            if (chosen != before->selection)
                NotifyParent(this, CBN_SELCHANGE);
        }
        if (self)
            closePopup(false);
    }

    void userEdited(const QString& text) {
        setWindowTitle(text); // Qt tells of the edit before it tells of the changed text
        // The selection follows what the user typed, so that the entry read back is the one shown: an
        // open list marks the first entry the text begins with, a closed one the entry with that very text
        // (any case); other text selects nothing. The parent hears of it when the text is settled.
        const int previous = m_curSel;
        if (text.isEmpty())
            m_curSel = -1;
        else if (const ComboEntry* entry = EntryAt(m_curSel); !entry || Display(*entry) != text)
            m_curSel = Find(-1, FromQString(text), !Dropped());
        m_typed = true;
        m_unannounced = m_unannounced || m_curSel != previous;
        m_beforeArrows.reset(); // the typed text is what Escape would come back to
        syncViewCurrent();
        QPointer<ComboBoxWidget> self(this);
        NotifyParent(this, CBN_EDITUPDATE);
        if (self)
            NotifyParent(this, CBN_EDITCHANGE);
    }

    void focusChanged(QFocusEvent* event, bool in) {
        // Opening and closing the list, or another window becoming active, does not move Win32's focus.
        if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
            return;
        if (!in && Dropped())
            closePopup(false);
        NotifyParent(this, in ? CBN_SETFOCUS : CBN_KILLFOCUS);
    }

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

QVariant ComboListModel::data(const QModelIndex& index, int role) const {
    const ComboEntry* entry = index.isValid() ? m_owner->EntryAt(index.row()) : nullptr;
    if (!entry)
        return {};
    if (role == Qt::DisplayRole)
        return m_owner->Display(*entry);
    if (role == Qt::CheckStateRole && m_owner->Checkable())
        return entry->checked ? Qt::Checked : Qt::Unchecked;
    return {};
}

Qt::ItemFlags ComboListModel::flags(const QModelIndex& index) const {
    const ComboEntry* entry = index.isValid() ? m_owner->EntryAt(index.row()) : nullptr;
    if (!entry || !entry->enabled)
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

ComboBoxWidget::ComboBoxWidget(QWidget* parent, DWORD style)
    : QWidget(parent), m_style(style), m_model(new ComboListModel(this)) {
    const DWORD type = style & CBS_TYPEMASK;
    const Qt::FocusPolicy policy = (style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus;
    if (type == CBS_DROPDOWN || type == CBS_SIMPLE) {
        m_edit = new QLineEdit(this);
        m_edit->setFrame(false);
        m_edit->setFocusPolicy(policy);
        m_edit->installEventFilter(this);
        setFocusProxy(m_edit);
        QObject::connect(m_edit, &QLineEdit::textEdited, this,
                         [this](const QString& text) { userEdited(text); });
        QObject::connect(m_edit, &QLineEdit::textChanged, this,
                         [this](const QString& text) { setWindowTitle(text); });
    }
    setFocusPolicy(policy);
    setAttribute(Qt::WA_InputMethodEnabled, m_edit != nullptr);
}

bool ComboBoxWidget::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit) {
        if (event->type() == QEvent::KeyPress && !Dropped())
            return handleClosedKey(static_cast<QKeyEvent*>(event));
        // The edit of a check box list only shows the checked codes: a click on it opens the list.
        if (event->type() == QEvent::MouseButtonPress && m_checkable &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_edit->setFocus(Qt::MouseFocusReason);
            ShowDropDown(!Dropped());
            return true;
        }
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            focusChanged(static_cast<QFocusEvent*>(event), event->type() == QEvent::FocusIn);
            update();
        }
        return false;
    }
    if (m_popup && (watched == m_popup || watched == m_view || (m_viewport && watched == m_viewport))) {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
            if (event->type() == QEvent::ShortcutOverride) {
                event->accept();
                return true;
            }
            return handlePopupKey(static_cast<QKeyEvent*>(event));
        }
        if (watched == m_popup && event->type() == QEvent::Hide)
            popupHidden();
    }
    return false;
}

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

bool ComboSortsBefore(const CString& a, const CString& b) {
    return sortsBefore(a.str(), b.str());
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
