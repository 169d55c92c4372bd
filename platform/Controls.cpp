// The built-in window classes: Static, Button, SysTabControl32, SysListView32, ListBox and Edit.
#include "platform/Controls.h"

#include "platform/DialogBuilder.h"
#include "platform/QtText.h"
#include "platform/WndInternal.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QTableView>

#include <cstring>

namespace orvo {
namespace {

QColor toQColor(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

Qt::FocusPolicy focusPolicyFor(DWORD style) {
    return (style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus;
}

// ---- static ------------------------------------------------------------------------------------------

Qt::Alignment staticAlignment(DWORD style) {
    Qt::Alignment align;
    switch (style & SS_TYPEMASK) {
    case SS_CENTER:
        align = Qt::AlignHCenter;
        break;
    case SS_RIGHT:
        align = Qt::AlignRight;
        break;
    default:
        align = Qt::AlignLeft;
        break;
    }
    return align | ((style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop);
}

// Asks the parent for the control's colours before it paints (WM_CTLCOLOR*), and paints with them when
// the parent gives a brush or a text colour; otherwise the control paints as usual.
class CtlColorPainter : public QObject {
public:
    explicit CtlColorPainter(UINT message) : m_message(message) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint)
            return false;
        auto* label = qobject_cast<QLabel*>(watched);
        QWidget* parent = label ? ParentWindowOf(label) : nullptr;
        if (!parent)
            return false;
        CDC dc(label);
        const auto brush = reinterpret_cast<HBRUSH>(
            ::SendMessage(parent, m_message, reinterpret_cast<WPARAM>(&dc), reinterpret_cast<LPARAM>(label)));
        if (!brush && !dc.HasTextColor())
            return false;
        QPainter painter(label);
        if (brush)
            painter.fillRect(label->rect(), toQColor(brush->color));
        else if (dc.GetBkMode() == OPAQUE && dc.HasBkColor())
            painter.fillRect(label->rect(), toQColor(dc.GetBkColor()));
        QPalette palette = label->palette();
        if (dc.HasTextColor())
            palette.setColor(QPalette::WindowText, toQColor(dc.GetTextColor()));
        painter.setFont(label->font());
        const QRect area = label->contentsRect();
        const int flags = static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        label->style()->drawItemText(&painter, area, flags, palette, label->isEnabled(), label->text(),
                                     QPalette::WindowText);
        return true;
    }

private:
    UINT m_message;
};

CtlColorPainter* staticPainter() {
    static auto* painter = new CtlColorPainter(WM_CTLCOLORSTATIC);
    return painter;
}

WindowClass staticClass() {
    WindowClass wc;
    wc.kind = "static";
    wc.create = [](QWidget* parent, const WindowCreateParams& params) -> QWidget* {
        auto* label = new QLabel(ToQString(params.text), parent);
        label->setAlignment(staticAlignment(params.style));
        label->setWordWrap(!(params.style & SS_CENTERIMAGE));
        label->setTextFormat(Qt::PlainText);
        // Without SS_NOTIFY a static lets the mouse through to what lies below, as on Win32.
        label->setAttribute(Qt::WA_TransparentForMouseEvents, !(params.style & SS_NOTIFY));
        label->installEventFilter(staticPainter());
        return label;
    };
    wc.styleChanged = [](QWidget* widget, DWORD, DWORD style) {
        widget->setAttribute(Qt::WA_TransparentForMouseEvents, !(style & SS_NOTIFY));
        if (auto* label = qobject_cast<QLabel*>(widget))
            label->setAlignment(staticAlignment(style));
    };
    return wc;
}

// ---- button ------------------------------------------------------------------------------------------

WindowClass buttonClass() {
    WindowClass wc;
    wc.kind = "button";
    wc.create = [](QWidget* parent, const WindowCreateParams& params) -> QWidget* {
        const QString text = ToQString(params.text);
        QWidget* widget = nullptr;
        switch (params.style & BS_TYPEMASK) {
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
            widget = new QCheckBox(text, parent);
            break;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            widget = new QRadioButton(text, parent);
            break;
        case BS_GROUPBOX:
            return new QGroupBox(text, parent);
        default: {
            auto* push = new QPushButton(text, parent);
            push->setAutoDefault(false);
            push->setDefault((params.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
            widget = push;
            break;
        }
        }
        widget->setFocusPolicy(focusPolicyFor(params.style));
        auto* button = static_cast<QAbstractButton*>(widget);
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [button] { NotifyParent(button, BN_CLICKED); });
        return widget;
    };
    wc.proc = [](QWidget* widget, UINT message, WPARAM wParam, LPARAM, LRESULT* result) {
        auto* button = qobject_cast<QAbstractButton*>(widget);
        if (!button)
            return false;
        switch (message) {
        case BM_GETCHECK:
            *result = button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
            return true;
        case BM_SETCHECK:
            button->setChecked(wParam == BST_CHECKED);
            *result = 0;
            return true;
        case BM_CLICK:
            if (button->isEnabled())
                button->click();
            *result = 0;
            return true;
        default:
            return false;
        }
    };
    return wc;
}

// ---- tab control -------------------------------------------------------------------------------------

// A tab bar over a frame. The pages are not children: the owner lays its windows over the display area.
class TabControlWidget : public QWidget {
public:
    explicit TabControlWidget(QWidget* parent) : QWidget(parent), m_bar(new QTabBar(this)) {
        m_bar->setDrawBase(false);
        m_bar->setExpanding(false);
        m_bar->setUsesScrollButtons(true);
        setFocusProxy(m_bar);
        QObject::connect(m_bar, &QTabBar::currentChanged, this, [this](int) {
            if (!m_quiet)
                NotifyParentNm(this, TCN_SELCHANGE);
        });
    }

    QTabBar* Bar() const { return m_bar; }

    int SetCurrentQuietly(int index) {
        const int previous = m_bar->currentIndex();
        if (index < 0 || index >= m_bar->count())
            return -1;
        m_quiet = true;
        m_bar->setCurrentIndex(index);
        m_quiet = false;
        return previous;
    }

    int InsertQuietly(int index, const QString& text) {
        m_quiet = true;
        const int at = m_bar->insertTab(std::clamp(index, 0, m_bar->count()), text);
        m_quiet = false;
        layoutBar();
        return at;
    }

    void RemoveQuietly(int index) {
        m_quiet = true;
        m_bar->removeTab(index);
        m_quiet = false;
    }

    // The display area inside a rectangle of this control's size (client coordinates).
    QRect DisplayArea(const QRect& window) const { return window.adjusted(2, barHeight() + 2, -2, -2); }
    int barHeight() const { return m_bar->sizeHint().height(); }

protected:
    void resizeEvent(QResizeEvent*) override { layoutBar(); }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QStyleOptionTabWidgetFrame frame;
        frame.initFrom(this);
        frame.rect = rect().adjusted(0, barHeight() - 1, 0, 0);
        frame.shape = QTabBar::RoundedNorth;
        frame.tabBarSize = m_bar->sizeHint();
        frame.tabBarRect = m_bar->geometry();
        style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
    }

private:
    void layoutBar() { m_bar->setGeometry(0, 0, width(), barHeight()); }

    QTabBar* m_bar;
    bool m_quiet = false;
};

WindowClass tabClass() {
    WindowClass wc;
    wc.kind = "tab";
    wc.create = [](QWidget* parent, const WindowCreateParams& params) -> QWidget* {
        auto* tab = new TabControlWidget(parent);
        tab->setWindowTitle(ToQString(params.text));
        tab->Bar()->setFocusPolicy((params.style & TCS_FOCUSONBUTTONDOWN) ? Qt::StrongFocus : Qt::TabFocus);
        return tab;
    };
    wc.proc = [](QWidget* widget, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
        auto* tab = dynamic_cast<TabControlWidget*>(widget);
        if (!tab)
            return false;
        QTabBar* bar = tab->Bar();
        const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        switch (message) {
        case TCM_GETITEMCOUNT:
            *result = bar->count();
            return true;
        case TCM_GETCURSEL:
        case TCM_GETCURFOCUS:
            *result = bar->currentIndex();
            return true;
        case TCM_SETCURSEL:
            *result = tab->SetCurrentQuietly(index);
            return true;
        case TCM_SETCURFOCUS:
            tab->SetCurrentQuietly(index);
            *result = 0;
            return true;
        case TCM_INSERTITEMA: {
            const auto* item = reinterpret_cast<const TCITEM*>(lParam);
            const QString text = item && (item->mask & TCIF_TEXT) && item->pszText
                                     ? ToQString(CString(item->pszText))
                                     : QString();
            const int at = tab->InsertQuietly(index, text);
            if (item && (item->mask & TCIF_PARAM))
                bar->setTabData(at, QVariant::fromValue<qlonglong>(item->lParam));
            *result = at;
            return true;
        }
        case TCM_GETITEMA: {
            auto* item = reinterpret_cast<TCITEM*>(lParam);
            if (!item || index < 0 || index >= bar->count()) {
                *result = FALSE;
                return true;
            }
            if ((item->mask & TCIF_TEXT) && item->pszText && item->cchTextMax > 0) {
                const CString text = FromQString(bar->tabText(index));
                const auto count = std::min(text.GetLength(), item->cchTextMax - 1);
                std::memcpy(item->pszText, text.GetString(), static_cast<std::size_t>(count));
                item->pszText[count] = '\0';
            }
            if (item->mask & TCIF_PARAM)
                item->lParam = static_cast<LPARAM>(bar->tabData(index).toLongLong());
            *result = TRUE;
            return true;
        }
        case TCM_DELETEITEM:
            if (index < 0 || index >= bar->count()) {
                *result = FALSE;
                return true;
            }
            tab->RemoveQuietly(index);
            *result = TRUE;
            return true;
        case TCM_DELETEALLITEMS:
            while (bar->count())
                tab->RemoveQuietly(bar->count() - 1);
            *result = TRUE;
            return true;
        case TCM_ADJUSTRECT: {
            auto* rect = reinterpret_cast<RECT*>(lParam);
            if (!rect)
                return true;
            const QRect r = ToQRect(*rect);
            const QRect inner = tab->DisplayArea(QRect(QPoint(0, 0), r.size())).translated(r.topLeft());
            if (wParam) // the window rectangle that holds this display area
                *rect = FromQRect(r.adjusted(-(inner.left() - r.left()), -(inner.top() - r.top()),
                                             r.right() - inner.right(), r.bottom() - inner.bottom()));
            else
                *rect = FromQRect(inner);
            *result = 0;
            return true;
        }
        default:
            return false;
        }
    };
    return wc;
}

// ---- list view, list box, edit -----------------------------------------------------------------------

void configureListView(QTableView* view, DWORD style) {
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setTabKeyNavigation(false);
    view->setWordWrap(false);
    view->setCornerButtonEnabled(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    view->setFrameShape((style & WS_BORDER) ? QFrame::StyledPanel : QFrame::NoFrame);
    view->setFocusPolicy(focusPolicyFor(style));
}

WindowClass listViewClass() {
    WindowClass wc;
    wc.kind = "list";
    wc.create = [](QWidget* parent, const WindowCreateParams& params) -> QWidget* {
        auto* view = new QTableView(parent);
        configureListView(view, params.style);
        return view;
    };
    return wc;
}

WindowClass listBoxClass() {
    WindowClass wc;
    wc.kind = "listbox";
    wc.create = [](QWidget* parent, const WindowCreateParams& params) -> QWidget* {
        auto* list = new QListWidget(parent);
        list->setFrameShape((params.style & WS_BORDER) ? QFrame::StyledPanel : QFrame::NoFrame);
        list->setFocusPolicy(focusPolicyFor(params.style));
        return list;
    };
    return wc;
}

// Sends EN_SETFOCUS / EN_KILLFOCUS for an edit.
class EditFocusNotifier : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn)
            NotifyParent(static_cast<QWidget*>(watched), EN_SETFOCUS);
        else if (event->type() == QEvent::FocusOut)
            NotifyParent(static_cast<QWidget*>(watched), EN_KILLFOCUS);
        return false;
    }
};

WindowClass editClass() {
    WindowClass wc;
    wc.kind = "edit";
    wc.create = [](QWidget* parent, const WindowCreateParams& params) -> QWidget* {
        auto* edit = new QLineEdit(ToQString(params.text), parent);
        edit->setFrame((params.style & WS_BORDER) != 0);
        edit->setFocusPolicy(focusPolicyFor(params.style));
        static auto* notifier = new EditFocusNotifier;
        edit->installEventFilter(notifier);
        QObject::connect(edit, &QLineEdit::textChanged, edit, [edit] { NotifyParent(edit, EN_CHANGE); });
        return edit;
    };
    return wc;
}

} // namespace

void RegisterBuiltinWindowClasses() {
    RegisterWindowClass(wc::kStatic, staticClass());
    RegisterWindowClass(wc::kButton, buttonClass());
    RegisterWindowClass(wc::kTab, tabClass());
    RegisterWindowClass(wc::kListView, listViewClass());
    RegisterWindowClass("ListBox", listBoxClass());
    RegisterWindowClass(wc::kEdit, editClass());
}

} // namespace orvo

// ---- CTabCtrl ----------------------------------------------------------------------------------------

LONG CTabCtrl::InsertItem(int item, LPCTSTR text) {
    TCITEM tabItem;
    tabItem.mask = TCIF_TEXT;
    tabItem.pszText = const_cast<LPTSTR>(text);
    return InsertItem(item, &tabItem);
}

LONG CTabCtrl::InsertItem(int item, TCITEM* tabItem) {
    return static_cast<LONG>(
        SendMessage(TCM_INSERTITEMA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(tabItem)));
}

BOOL CTabCtrl::GetItem(int item, TCITEM* tabItem) {
    return static_cast<BOOL>(
        SendMessage(TCM_GETITEMA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(tabItem)));
}

CString CTabCtrl::GetItemText(int item) {
    char buffer[256] = {};
    TCITEM tabItem;
    tabItem.mask = TCIF_TEXT;
    tabItem.pszText = buffer;
    tabItem.cchTextMax = sizeof buffer;
    return GetItem(item, &tabItem) ? CString(buffer) : CString();
}
