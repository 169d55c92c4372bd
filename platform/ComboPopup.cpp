// The drop-down list of a combo box: a popup list under the box, its keys (arrows and page keys choose,
// Enter and Tab commit, Escape cancels) and the notifications of opening, choosing and closing. While it
// is open the keys the list does not use travel on to the edit field, so typing goes on as on Win32.
#include "platform/ComboBoxWidget.h"

#include "platform/DialogBuilder.h"
#include "platform/QtText.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QListView>
#include <QPointer>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace orvo::combo {
namespace {

constexpr int kMaxVisibleRows = 15;

} // namespace

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

void ComboBoxWidget::cancelOpenListChoice() {
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

void ComboBoxWidget::ShowDropDown(bool show) {
    if (show == Dropped())
        return;
    if (show)
        openPopup();
    else
        closePopup(false);
}

void ComboBoxWidget::UserSelect(int index, bool fromList) {
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

void ComboBoxWidget::UserCheck(int index, bool checked) {
    ComboEntry* entry = EntryAt(index);
    if (!entry || !entry->enabled || entry->checked == checked)
        return;
    SetChecked(index, checked);
    NotifyParent(this, CBN_ORVO_CHECKCHANGE);
}

void ComboBoxWidget::syncViewCurrent() {
    if (!m_view || m_flushPending)
        return;
    const QModelIndex index = m_model->index(m_curSel, 0);
    m_view->setCurrentIndex(index);
    if (index.isValid())
        m_view->scrollTo(index);
}

void ComboBoxWidget::ensurePopup() {
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

void ComboBoxWidget::placePopup() {
    const int rows = std::clamp(Count(), 1, kMaxVisibleRows);
    int rowHeight = m_view->sizeHintForRow(0);
    if (rowHeight <= 0)
        rowHeight = fontMetrics().height() + 4;
    const int frame = 2 + 2 * m_view->frameWidth();
    const QPoint below = mapToGlobal(QPoint(0, height()));
    m_popup->setGeometry(below.x(), below.y(), width(), rows * rowHeight + frame);
}

void ComboBoxWidget::openPopup() {
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

void ComboBoxWidget::closePopup(bool committed) {
    if (!Dropped())
        return;
    m_committing = committed;
    m_popup->hide(); // the hide event sends the notifications
}

void ComboBoxWidget::popupHidden() {
    QPointer<ComboBoxWidget> self(this);
    if (!m_committing)
        NotifyParent(this, CBN_SELENDCANCEL);
    if (self)
        NotifyParent(this, CBN_CLOSEUP);
    if (self)
        update();
}

bool ComboBoxWidget::handlePopupKey(QKeyEvent* event) {
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

void ComboBoxWidget::moveInOpenList(int wanted) {
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

} // namespace orvo::combo
