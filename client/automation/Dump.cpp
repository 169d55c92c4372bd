#include "client/automation/Dump.h"

#include "client/Json.h"
#include "client/automation/ControlKinds.h"
#include "client/automation/Windows.h"
#include "platform/Wnd.h"

#include <QApplication>
#include <QWidget>

namespace automation {
namespace {

constexpr int kStatusLine = 9016;

void dumpControl(QWidget* window, QWidget* control, JsonWriter& json) {
    CWnd* wnd = CWnd::FromHandlePermanent(control);
    const ControlKind* kind = ControlKinds::Instance().Find(control);
    std::string kindName = kind && !kind->name.empty() ? kind->name : Kind(control);
    const QPoint origin = control->mapTo(window, QPoint(0, 0));
    json.BeginObject()
        .Field("id", ControlRef(window, control))
        .Field("kind", kindName)
        .Field("visible", control->isVisible())
        .Field("enabled", control->isEnabled())
        .Field("focus", control->hasFocus() || control->isAncestorOf(QApplication::focusWidget()))
        .Rect("rect", origin.x(), origin.y(), control->width(), control->height());
    if (kind && kind->dump)
        kind->dump(control, wnd, json);
    json.EndObject();
}

void dumpWindow(QWidget* window, HostWindowInfo* host, JsonWriter& json) {
    const QRect frame = window->frameGeometry();
    const bool active = window == ActiveWindow();
    json.BeginObject()
        .Field("id", WindowId(window))
        .Field("title", window->windowTitle().toUtf8().toStdString())
        .Field("active", active)
        .Field("maximized", window->isMaximized())
        .Field("minimized", window->isMinimized())
        .Rect("rect", frame.x(), frame.y(), frame.width(), frame.height())
        .Rect("client", 0, 0, window->width(), window->height());
    if (!IsLayerWindow(window)) {
        json.Field("kind", "host");
        if (host)
            host->DumpHostWindow(window, json);
        json.EndObject();
        return;
    }
    json.Key("controls").BeginArray();
    QWidget* status = nullptr;
    for (QWidget* control : ControlsOf(window)) {
        dumpControl(window, control, json);
        if (WindowId(control) == kStatusLine)
            status = control;
    }
    json.EndArray();
    if (status) // the query window's status line
        json.Field("status", CWnd::FromHandlePermanent(status)
                                 ? CWnd::FromHandlePermanent(status)->GetWindowText().ToUtf8()
                                 : std::string());
    json.EndObject();
}

std::size_t displayWidth(const std::string& utf8) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        width += length >= 3 ? 2 : 1; // CJK characters fill two cells on a terminal
        i += length;
    }
    return width;
}

} // namespace

void DumpWindows(HostWindowInfo* host, const std::function<void(std::string_view)>& sink) {
    JsonWriter json(sink);
    json.BeginObject().Key("windows").BeginArray();
    for (QWidget* window : VisibleTopLevelWindows())
        dumpWindow(window, host, json);
    json.EndArray().EndObject();
    json.Flush();
}

std::string DumpWindows(HostWindowInfo* host) {
    std::string text;
    DumpWindows(host, [&text](std::string_view piece) { text += piece; });
    return text;
}

bool ReadTable(QWidget* control, std::vector<std::string>& columns,
               std::vector<std::vector<std::string>>& rows, int& current) {
    const ControlKind* kind = ControlKinds::Instance().Find(control);
    if (!kind || !kind->table)
        return false;
    kind->table(control, CWnd::FromHandlePermanent(control), columns, rows, current);
    return true;
}

std::string FormatTable(const std::vector<std::string>& columns,
                        const std::vector<std::vector<std::string>>& rows, std::size_t maxRows) {
    std::vector<std::size_t> widths(columns.size());
    const std::size_t shown = std::min(rows.size(), maxRows);
    for (std::size_t c = 0; c < columns.size(); ++c)
        widths[c] = displayWidth(columns[c]);
    for (std::size_t r = 0; r < shown; ++r)
        for (std::size_t c = 0; c < columns.size() && c < rows[r].size(); ++c)
            widths[c] = std::max(widths[c], displayWidth(rows[r][c]));
    const auto line = [&](const std::vector<std::string>& cells) {
        std::string out;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const std::string cell = c < cells.size() ? cells[c] : "";
            out += cell + std::string(widths[c] - displayWidth(cell), ' ');
            out += c + 1 < columns.size() ? " | " : "";
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        return out + "\n";
    };
    std::string text = line(columns);
    std::string rule;
    for (std::size_t c = 0; c < columns.size(); ++c)
        rule += std::string(widths[c], '-') + (c + 1 < columns.size() ? "-+-" : "");
    text += rule + "\n";
    for (std::size_t r = 0; r < shown; ++r)
        text += line(rows[r]);
    if (rows.size() > shown)
        text += "... " + std::to_string(rows.size() - shown) + " more rows\n";
    text.append("(").append(std::to_string(rows.size())).append(" rows)\n");
    return text;
}

} // namespace automation
