#include "client/automation/Input.h"

#include "client/automation/ScriptParser.h"
#include "client/automation/SyntheticInput.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHeaderView>
#include <QPointer>
#include <QTabBar>
#include <QTableView>
#include <QWidget>

namespace automation {
namespace {

constexpr int kDragStep = 4;

struct NamedKey {
    const char* name;
    Qt::Key key;
};
constexpr NamedKey kNamedKeys[] = {
    {"Enter", Qt::Key_Return},  {"Escape", Qt::Key_Escape},       {"Tab", Qt::Key_Tab},
    {"Up", Qt::Key_Up},         {"Down", Qt::Key_Down},           {"Home", Qt::Key_Home},
    {"End", Qt::Key_End},       {"Backspace", Qt::Key_Backspace}, {"Space", Qt::Key_Space},
    {"Delete", Qt::Key_Delete}, {"Left", Qt::Key_Left},           {"Right", Qt::Key_Right},
    {"PageUp", Qt::Key_PageUp}, {"PageDown", Qt::Key_PageDown},
};

QWidget* focusTarget(QWidget* control) {
    QWidget* focus = QApplication::focusWidget();
    if (focus && (focus == control || control->isAncestorOf(focus)))
        return focus; // a combo box's edit, for instance
    return control;
}

void typeCharacter(QWidget* target, const QString& character) {
    const QChar c = character.at(0);
    if (character.size() == 1 && c.unicode() < 0x80 && c.isPrint())
        SendKeyClick(target, KeyOfCharacter(static_cast<char>(c.unicode())), character, Qt::NoModifier);
    else // characters without a key of their own arrive as text, as an input method gives them
        SendKeyClick(target, Qt::Key_unknown, character, Qt::NoModifier);
}

} // namespace

bool PressKey(QWidget* target, const std::string& key, std::string& error) {
    const std::optional<KeyChord> chord = ParseKeyChord(key);
    if (!chord) {
        error = "'" + key + "' is not a key";
        return false;
    }
    // An open drop-down list takes the keyboard, whichever control holds the focus: a key goes to it
    // first, as the window system delivers it.
    if (QWidget* popup = QApplication::activePopupWidget())
        target = popup->focusWidget() ? popup->focusWidget() : popup;
    if (!target)
        target = QApplication::focusWidget();
    if (!target)
        target = QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                   : QApplication::activeWindow();
    if (!target) {
        error = "no window has the keyboard focus";
        return false;
    }
    Qt::KeyboardModifiers modifiers;
    if (chord->ctrl)
        modifiers |= Qt::ControlModifier;
    if (chord->alt)
        modifiers |= Qt::AltModifier;
    if (chord->shift)
        modifiers |= Qt::ShiftModifier;
    const std::string& name = chord->key;
    for (const NamedKey& named : kNamedKeys)
        if (name == named.name) {
            // Shift+Tab arrives as Backtab, as the window system gives it.
            const Qt::Key qtKey = named.key == Qt::Key_Tab && chord->shift ? Qt::Key_Backtab : named.key;
            SendKeyClick(target, qtKey, TextOfKey(qtKey), modifiers);
            return true;
        }
    if (IsNamedKey(name) && name[0] == 'F') {
        const int number = std::stoi(name.substr(1));
        SendKeyClick(target, static_cast<Qt::Key>(Qt::Key_F1 + number - 1), QString(), modifiers);
        return true;
    }
    const QString text = QString::fromUtf8(name.c_str());
    if (modifiers != Qt::NoModifier && text.size() == 1 && text.at(0).unicode() < 0x80 &&
        text.at(0).isPrint()) {
        // A shortcut: the key of the character, held with its modifiers (Ctrl+C is Copy).
        const char c = static_cast<char>(text.at(0).toLower().unicode());
        SendKeyClick(target, KeyOfCharacter(c), QString(QChar::fromLatin1(c)), modifiers);
        return true;
    }
    typeCharacter(target, text);
    return true;
}

void FocusControl(QWidget* control) {
    QWidget* window = control->window();
    if (!window->isActiveWindow())
        window->activateWindow();
    control->setFocus(Qt::OtherFocusReason);
}

void TypeText(QWidget* control, const std::string& utf8) {
    FocusControl(control);
    const QString text = QString::fromUtf8(utf8.c_str());
    for (int i = 0; i < text.size(); ++i) {
        const int length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        typeCharacter(focusTarget(control), text.mid(i, length));
        i += length - 1;
    }
}

void ClearText(QWidget* control) {
    FocusControl(control);
    QWidget* target = focusTarget(control);
    SendKeyClick(target, Qt::Key_A, TextOfKey(Qt::Key_A), Qt::ControlModifier);
    SendKeyClick(target, Qt::Key_Delete, QString(), Qt::NoModifier);
}

void Click(QWidget* widget, const QPoint& pos) {
    QPointer<QWidget> guard(widget);
    SendMouse(widget, QEvent::MouseButtonPress, pos);
    if (guard)
        SendMouse(widget, QEvent::MouseButtonRelease, pos);
}

void ClickCenter(QWidget* widget) {
    Click(widget, widget->rect().center());
}

void DoubleClick(QWidget* widget, const QPoint& pos) {
    // The sequence a mouse gives: press, release, double-click, release.
    QPointer<QWidget> guard(widget);
    SendMouse(widget, QEvent::MouseButtonPress, pos);
    if (guard)
        SendMouse(widget, QEvent::MouseButtonRelease, pos);
    if (guard)
        SendMouse(widget, QEvent::MouseButtonDblClick, pos);
    if (guard)
        SendMouse(widget, QEvent::MouseButtonRelease, pos);
}

void Drag(QWidget* widget, int dy) {
    QPointer<QWidget> guard(widget);
    QPoint pos = widget->rect().center();
    SendMouse(widget, QEvent::MouseButtonPress, pos);
    int moved = 0;
    while (guard && moved != dy) {
        const int step = dy > moved ? std::min(kDragStep, dy - moved) : std::max(-kDragStep, dy - moved);
        moved += step;
        SendMouse(widget, QEvent::MouseMove, pos + QPoint(0, moved));
    }
    if (guard)
        SendMouse(widget, QEvent::MouseButtonRelease, pos + QPoint(0, dy));
}

bool ClickListRow(QWidget* list, int row, bool twice, std::string& error) {
    auto* view = qobject_cast<QAbstractItemView*>(list);
    if (!view)
        view = list->findChild<QAbstractItemView*>();
    if (!view || !view->model()) {
        error = "the control is not a list";
        return false;
    }
    const int rows = view->model()->rowCount();
    if (row < 0 || row >= rows) {
        error = "the list has " + std::to_string(rows) + " rows, no row " + std::to_string(row);
        return false;
    }
    const QModelIndex index = view->model()->index(row, 0);
    view->scrollTo(index);
    const QRect rect = view->visualRect(index);
    if (!rect.isValid()) {
        error = "row " + std::to_string(row) + " cannot be shown (is the list hidden?)";
        return false;
    }
    const QPoint pos(rect.left() + std::min(8, rect.width() / 2), rect.center().y());
    if (twice)
        DoubleClick(view->viewport(), pos);
    else
        Click(view->viewport(), pos);
    return true;
}

bool ClickHeader(QWidget* list, int section, std::string& error) {
    auto* view = qobject_cast<QTableView*>(list);
    if (!view)
        view = list->findChild<QTableView*>();
    if (!view || !view->model()) {
        error = "the control is not a list";
        return false;
    }
    QHeaderView* header = view->horizontalHeader();
    if (section < 0 || section >= header->count()) {
        error = "the list has " + std::to_string(header->count()) + " columns, no column " +
                std::to_string(section);
        return false;
    }
    if (header->isSectionHidden(section)) {
        error = "column " + std::to_string(section) + " is hidden";
        return false;
    }
    view->scrollTo(view->model()->index(view->rowAt(0) < 0 ? 0 : view->rowAt(0), section));
    const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
    if (x < 0 || x >= header->viewport()->width()) {
        error = "column " + std::to_string(section) + " cannot be shown";
        return false;
    }
    Click(header->viewport(), QPoint(x, header->viewport()->height() / 2));
    return true;
}

bool ClickTab(QWidget* tabControl, int index, std::string& error) {
    auto* bar = qobject_cast<QTabBar*>(tabControl);
    if (!bar)
        bar = tabControl->findChild<QTabBar*>();
    if (!bar) {
        error = "the control has no tabs";
        return false;
    }
    if (index < 0 || index >= bar->count()) {
        error = "there are " + std::to_string(bar->count()) + " tabs, no tab " + std::to_string(index);
        return false;
    }
    Click(bar, bar->tabRect(index).center());
    return true;
}

} // namespace automation
