#include "platform/DialogBuilder.h"

#include "platform/QtText.h"
#include "platform/Wnd.h"
#include "platform/WndInternal.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <map>
#include <unordered_set>

namespace orvo {

void RegisterBuiltinWindowClasses(); // Controls.cpp

namespace {

struct Caseless {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
        });
    }
};

std::map<std::string, WindowClass, Caseless>& classes() {
    static auto* map = new std::map<std::string, WindowClass, Caseless>;
    return *map;
}

void ensureBuiltins() {
    static bool done = false;
    if (!done) {
        done = true;
        RegisterBuiltinWindowClasses();
    }
}

std::unordered_set<const QWidget*>& liveWindows() {
    static auto* set = new std::unordered_set<const QWidget*>;
    return *set;
}

void markLayerWindow(QWidget* widget) {
    liveWindows().insert(widget);
    QObject::connect(widget, &QObject::destroyed, [widget] { liveWindows().erase(widget); });
}

int mulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

} // namespace

void RegisterWindowClass(const std::string& name, WindowClass windowClass) {
    ensureBuiltins();
    classes()[name] = std::move(windowClass);
}

const WindowClass* FindWindowClass(std::string_view name) {
    ensureBuiltins();
    const auto it = classes().find(std::string(name));
    return it == classes().end() ? nullptr : &it->second;
}

bool IsLayerWindow(const QWidget* widget) {
    return widget && liveWindows().count(widget) != 0;
}

QWidget* CreateWindowOfClass(std::string_view className, const WindowCreateParams& params, const QRect& rect,
                             QWidget* parent) {
    const WindowClass* wc = FindWindowClass(className);
    if (!wc || !wc->create)
        return nullptr;
    QWidget* widget = wc->create(parent, params);
    if (!widget)
        return nullptr;
    widget->setProperty(kPropId, params.id);
    widget->setProperty(kPropClass, QString::fromStdString(std::string(className)));
    widget->setProperty(kPropKind, QString::fromStdString(wc->kind));
    widget->setProperty(kPropStyle, static_cast<uint>(params.style));
    widget->setObjectName(QStringLiteral("ctl_%1").arg(params.id));
    widget->setGeometry(rect);
    if (params.style & WS_DISABLED)
        widget->setEnabled(false);
    widget->setVisible((params.style & WS_VISIBLE) != 0);
    markLayerWindow(widget);
    return widget;
}

QWidget* WindowAt(QWidget* widget) {
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (w->property(kPropClass).isValid() || CWnd::FromHandlePermanent(w))
            return w;
        if (w->isWindow())
            return w;
    }
    return nullptr;
}

QWidget* ParentWindowOf(QWidget* widget) {
    if (!widget || widget->isWindow())
        return nullptr;
    return WindowAt(widget->parentWidget());
}

void NotifyParent(QWidget* control, UINT code) {
    QWidget* parent = ParentWindowOf(control);
    if (!parent)
        return;
    const auto id = static_cast<WORD>(control->property(kPropId).toInt());
    ::SendMessage(parent, WM_COMMAND, MAKEWPARAM(id, static_cast<WORD>(code)),
                  reinterpret_cast<LPARAM>(control));
}

LRESULT NotifyParentNm(QWidget* control, UINT code) {
    QWidget* parent = ParentWindowOf(control);
    if (!parent)
        return 0;
    NMHDR header;
    header.hwndFrom = control;
    header.idFrom = static_cast<UINT_PTR>(control->property(kPropId).toInt());
    header.code = code;
    return ::SendMessage(parent, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

// ---- fonts and units ---------------------------------------------------------------------------------

QFont FontFromFace(const CString& faceGbk, int pointSize) {
    QString family = ToQString(faceGbk);
    // The Windows CJK faces of the templates are not on this system; a CJK face with the same metrics
    // role stands in for them.
    if (family.isEmpty() || !QFontDatabase::hasFamily(family)) {
        static const QString fallback = [] {
            for (const QString& candidate :
                 {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                  QStringLiteral("Droid Sans Fallback")})
                if (QFontDatabase::hasFamily(candidate))
                    return candidate;
            return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        }();
        family = fallback;
    }
    QFont font(family);
    font.setPointSize(std::max(1, pointSize));
    return font;
}

QFont DialogFont(const DialogTemplate& dialogTemplate) {
    return FontFromFace(dialogTemplate.fontFace, dialogTemplate.fontPointSize);
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(letters);
    return {(width / 26 + 1) / 2, metrics.height()};
}

QRect DialogRectToPixels(int x, int y, int cx, int cy, DialogBaseUnits units) {
    const int left = mulDiv(x, units.x, 4);
    const int top = mulDiv(y, units.y, 8);
    const int right = mulDiv(x + cx, units.x, 4);
    const int bottom = mulDiv(y + cy, units.y, 8);
    return orvo::ToQRect(RECT{left, top, right, bottom});
}

// ---- dialogs -----------------------------------------------------------------------------------------

QWidget* CreateDialogWindow(const DialogTemplate& dialogTemplate, QWidget* parent) {
    auto* dialog = new QWidget(parent, Qt::Dialog);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if ((dialogTemplate.style & WS_CAPTION) == WS_CAPTION)
        flags |= Qt::WindowTitleHint;
    if (dialogTemplate.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (dialogTemplate.style & WS_MAXIMIZEBOX)
        flags |= Qt::WindowMaximizeButtonHint;
    if (dialogTemplate.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    dialog->setWindowFlags(flags);
    const QFont font = DialogFont(dialogTemplate);
    dialog->setFont(font);
    dialog->setWindowTitle(ToQString(dialogTemplate.caption));
    dialog->setProperty(kPropId, static_cast<int>(dialogTemplate.id));
    dialog->setProperty(kPropClass, QStringLiteral("#32770"));
    dialog->setProperty(kPropKind, QStringLiteral("dialog"));
    dialog->setProperty(kPropStyle, static_cast<uint>(dialogTemplate.style & ~WS_VISIBLE));
    dialog->setObjectName(QStringLiteral("dlg_%1").arg(dialogTemplate.id));
    const QRect client = DialogRectToPixels(0, 0, dialogTemplate.cx, dialogTemplate.cy, BaseUnitsOf(font));
    dialog->resize(client.size());
    markLayerWindow(dialog);
    return dialog;
}

void CreateDialogControls(const DialogTemplate& dialogTemplate, QWidget* dialog) {
    const DialogBaseUnits units = BaseUnitsOf(dialog->font());
    for (const DialogControlTemplate& control : dialogTemplate.controls) {
        const QRect rect = DialogRectToPixels(control.x, control.y, control.cx, control.cy, units);
        WindowCreateParams params{control.text, control.style | WS_CHILD, control.id};
        QWidget* widget = CreateWindowOfClass(control.className, params, rect, dialog);
        if (!widget) {
            qWarning("dialog %u: control %d has unknown window class %s; shown as a static",
                     dialogTemplate.id, control.id, control.className.c_str());
            widget = CreateWindowOfClass(wc::kStatic, params, rect, dialog);
        }
    }
}

} // namespace orvo
