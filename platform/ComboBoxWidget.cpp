// The combo box itself: construction, painting, its edit field (text, edit selection in GBK bytes,
// typing), the current selection, settling typed text, focus, and the keys of the closed box.
#include "platform/ComboBoxWidget.h"

#include "platform/DialogBuilder.h"
#include "platform/QtText.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>

#include <algorithm>

namespace orvo::combo {
namespace {

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

} // namespace

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

ComboBoxWidget::~ComboBoxWidget() {
    // An open list goes quietly: a box being destroyed tells its parent nothing more.
    if (m_popup) {
        m_popup->removeEventFilter(this);
        delete m_popup;
    }
    delete m_model;
}

int ComboBoxWidget::SetCurSel(int index) {
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

void ComboBoxWidget::SetText(const QString& text) {
    if (m_edit) {
        setShownText(text);
        return;
    }
    // A drop-down list shows only its entries: the text selects the entry that has it.
    const int found = Find(-1, FromQString(text), true);
    SetCurSel(found);
}

LRESULT ComboBoxWidget::GetEditSel(WPARAM wParam, LPARAM lParam) const {
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

LRESULT ComboBoxWidget::SetEditSel(LPARAM lParam) {
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

int ComboBoxWidget::Settle() {
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

void ComboBoxWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionComboBox option = styleOption();
    style()->drawComplexControl(QStyle::CC_ComboBox, &option, &painter, this);
    if (!m_edit)
        style()->drawControl(QStyle::CE_ComboBoxLabel, &option, &painter, this);
}

void ComboBoxWidget::resizeEvent(QResizeEvent*) {
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

void ComboBoxWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !isEnabled())
        return;
    if (focusPolicy() != Qt::NoFocus)
        setFocus(Qt::MouseFocusReason);
    ShowDropDown(!Dropped());
}

void ComboBoxWidget::keyPressEvent(QKeyEvent* event) {
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

void ComboBoxWidget::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    focusChanged(event, true);
}

void ComboBoxWidget::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    focusChanged(event, false);
}

void ComboBoxWidget::setShownText(const QString& text) {
    if (m_edit) {
        if (m_edit->text() != text)
            m_edit->setText(text);
    } else {
        m_listText = text;
    }
    setWindowTitle(text); // what CWnd::GetWindowText reads from a widget it does not know
    update();
}

QStyleOptionComboBox ComboBoxWidget::styleOption() const {
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

int ComboBoxWidget::fieldHeight() const {
    QStyleOptionComboBox option = styleOption();
    const QSize contents(0, fontMetrics().height());
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, this).height();
}

void ComboBoxWidget::layoutEdit() {
    if (!m_edit)
        return;
    QStyleOptionComboBox option = styleOption();
    m_edit->setGeometry(
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this));
}

bool ComboBoxWidget::handleClosedKey(QKeyEvent* event) {
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

void ComboBoxWidget::userEdited(const QString& text) {
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

void ComboBoxWidget::focusChanged(QFocusEvent* event, bool in) {
    // Opening and closing the list, or another window becoming active, does not move Win32's focus.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        return;
    if (!in && Dropped())
        closePopup(false);
    NotifyParent(this, in ? CBN_SETFOCUS : CBN_KILLFOCUS);
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

} // namespace orvo::combo
