#include "client/automation/Windows.h"

#include <QApplication>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace automation {
namespace {

constexpr const char* kPropId = "orvoId";
constexpr const char* kPropKind = "orvoKind";
constexpr int kRuleLists = 6;
constexpr int kFindField = 9015;

bool isListKind(const std::string& kind) {
    return kind == "list" || kind == "listbox";
}

void collect(QWidget* parent, std::vector<QWidget*>& out) {
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->isWindow())
            continue;
        if (IsLayerWindow(widget))
            out.push_back(widget); // its own children belong to it, not to the window
        else
            collect(widget, out);
    }
}

} // namespace

QWidget* ActiveWindow() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    if (QWidget* active = QApplication::activeWindow())
        return active;
    const auto windows = VisibleTopLevelWindows();
    return windows.empty() ? nullptr : windows.back();
}

bool IsLayerWindow(const QWidget* widget) {
    return widget && widget->property(kPropId).isValid();
}

int WindowId(const QWidget* window) {
    return IsLayerWindow(window) ? window->property(kPropId).toInt() : 0;
}

std::string Kind(const QWidget* widget) {
    return widget->property(kPropKind).toString().toStdString();
}

std::vector<QWidget*> VisibleTopLevelWindows() {
    std::vector<QWidget*> layer, host;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || widget->windowType() == Qt::Popup || widget->windowType() == Qt::ToolTip)
            continue;
        (IsLayerWindow(widget) ? layer : host).push_back(widget);
    }
    // A window opened over another is modal to it: order by the modal stack, the outermost first.
    std::stable_sort(layer.begin(), layer.end(), [](QWidget* a, QWidget* b) {
        const auto depth = [](QWidget* w) {
            int d = 0;
            for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
                ++d;
            return d;
        };
        return depth(a) < depth(b);
    });
    layer.insert(layer.end(), host.begin(), host.end());
    return layer;
}

std::vector<QWidget*> ControlsOf(QWidget* window) {
    std::vector<QWidget*> controls;
    if (window)
        collect(window, controls);
    return controls;
}

std::string ControlRef(QWidget* window, QWidget* control) {
    const int id = WindowId(control);
    if (id == 0 && isListKind(Kind(control))) {
        int index = 0;
        for (QWidget* other : ControlsOf(window)) {
            if (other == control)
                return index < kRuleLists ? std::string("L").append(std::to_string(index)) : "0";
            if (WindowId(other) == 0 && isListKind(Kind(other)))
                ++index;
        }
    }
    return std::to_string(id);
}

QWidget* FindControl(QWidget* window, const std::string& ref) {
    const std::vector<QWidget*> controls = ControlsOf(window);
    if (ref.size() == 2 && ref[0] == 'L') {
        int index = ref[1] - '0';
        for (QWidget* control : controls)
            if (WindowId(control) == 0 && isListKind(Kind(control)) && index-- == 0)
                return control;
        return nullptr;
    }
    // The query window's find field, by name.
    const int id = ref == "filter" ? kFindField : std::stoi(ref);
    for (QWidget* control : controls)
        if (WindowId(control) == id)
            return control;
    return nullptr;
}

std::string DescribeWindow(const QWidget* window) {
    if (!window)
        return "no window";
    return std::to_string(WindowId(window)) + " \"" + window->windowTitle().toStdString() + "\"";
}

} // namespace automation
