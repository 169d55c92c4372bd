// The list of a combo box: its entries' storage, the sort order of CBS_SORT boxes, adding, inserting,
// deleting and finding entries, and publishing the list to Qt's view at the end of a burst of changes.
#include "platform/ComboBoxWidget.h"

#include "platform/QtText.h"

#include <QLineEdit>

#include <algorithm>
#include <iterator>
#include <numeric>

namespace orvo {
namespace combo {

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

const QString& ComboBoxWidget::Display(const ComboEntry& entry) const {
    if (!entry.hasDisplay) {
        entry.display = ToQString(CString(TextOf(entry)));
        entry.hasDisplay = true;
    }
    return entry.display;
}

int ComboBoxWidget::Add(const CString& text) {
    int at = Count();
    if (Sorted())
        at =
            m_order.UpperBound([&](std::uint32_t id) { return sortsBefore(text.str(), TextOf(m_pool[id])); });
    return place(at, newEntry(text.str()));
}

int ComboBoxWidget::AddBatch(const ComboBatchEntry* entries, std::size_t count) {
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

int ComboBoxWidget::Insert(int index, const CString& text) {
    if (index < -1 || index > Count())
        return CB_ERR;
    return place(index == -1 ? Count() : index, newEntry(text.str()));
}

int ComboBoxWidget::Delete(int index) {
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

void ComboBoxWidget::Reset() {
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

int ComboBoxWidget::Find(int startAfter, const CString& text, bool exact) const {
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

int ComboBoxWidget::FindKey(const CString& key) const {
    for (int i = 0; i < Count(); ++i)
        if (At(i).key == key)
            return i;
    return CB_ERR;
}

void ComboBoxWidget::SetKey(int index, const CString& key) {
    m_pool[m_order.At(index)].key = key;
    m_keyed = true;
}

void ComboBoxWidget::SetChecked(int index, bool checked) {
    m_pool[m_order.At(index)].checked = checked;
    m_model->RowChanged(index);
}

void ComboBoxWidget::SetCheckable(bool checkable) {
    m_checkable = checkable;
    if (m_edit)
        m_edit->setReadOnly(checkable);
    listChanged();
}

void ComboBoxWidget::Flush() {
    if (!m_flushPending)
        return;
    m_flushPending = false;
    m_order.Flat(); // the view reads rows by index from here on
    m_model->Publish(Count());
    syncViewCurrent();
    if (Dropped())
        placePopup();
}

ComboEntry ComboBoxWidget::newEntry(std::string_view text) {
    ComboEntry entry;
    entry.textAt = m_texts.size();
    entry.textLength = text.size();
    m_texts.append(text);
    return entry;
}

int ComboBoxWidget::place(int at, ComboEntry entry) {
    m_pool.push_back(std::move(entry));
    m_order.Insert(at, static_cast<std::uint32_t>(m_pool.size() - 1));
    if (m_curSel >= at)
        ++m_curSel;
    listChanged();
    return at;
}

void ComboBoxWidget::listChanged() {
    if (m_flushPending)
        return;
    m_flushPending = true;
    QMetaObject::invokeMethod(
        this, [this] { Flush(); }, Qt::QueuedConnection);
    update();
}

} // namespace combo

bool ComboSortsBefore(const CString& a, const CString& b) {
    return combo::sortsBefore(a.str(), b.str());
}

} // namespace orvo
