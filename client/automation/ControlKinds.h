// What automation knows about each kind of control, read through the control's own class: how to dump
// its state, and for choice controls how to pick an entry or check one. Kinds are tried in the order they
// were added, the most specific (the host's classes) first, so a control is read through the richest
// interface it offers; the standard Qt-backed kinds come last as fall-backs.
#pragma once

#include <functional>
#include <string>
#include <vector>

class CWnd;
class JsonWriter;
class QWidget;

namespace automation {

struct ControlKind {
    std::string name; // the "kind" written to the dump
    std::function<bool(QWidget* widget, CWnd* wnd)> matches;
    // Writes the kind's own keys (after id, kind, visible, enabled, focus, rect).
    std::function<void(QWidget* widget, CWnd* wnd, JsonWriter& json)> dump;
    // Chooses the entry with this key or text; false with a reason.
    std::function<bool(QWidget* widget, CWnd* wnd, const std::string& key, std::string& error)> pick;
    // Checks (true) or unchecks the entry with this code; false with a reason.
    std::function<bool(QWidget* widget, CWnd* wnd, const std::string& code, bool on, std::string& error)>
        check;
    // Sets a date picker's date as a user does; false with a reason.
    std::function<bool(QWidget* widget, int year, int month, int day, std::string& error)> setDate;
    // Writes a list to a file as its menu does, the format by the file's ending; false with a reason.
    std::function<bool(QWidget* widget, CWnd* wnd, const std::string& path, std::string& error)> exportTo;
    // The rows of a list as text (for the terminal tables of the tour): columns, then rows.
    std::function<void(QWidget* widget, CWnd* wnd, std::vector<std::string>& columns,
                       std::vector<std::vector<std::string>>& rows, int& current)>
        table;
};

class ControlKinds {
public:
    static ControlKinds& Instance();
    void Add(ControlKind kind);
    // The first kind that matches; null when none does.
    const ControlKind* Find(QWidget* widget) const;

private:
    ControlKinds();
    std::vector<ControlKind> m_kinds;
};

// Shared by the kinds' sources.
void WriteTable(JsonWriter& json, const std::vector<std::string>& columns,
                const std::vector<std::vector<std::string>>& rows, int current);

// Registered by ControlKinds' constructor, in this order.
void AddHostControlKinds(ControlKinds& kinds);     // the host library's list and combo classes
void AddStandardControlKinds(ControlKinds& kinds); // tab, static, button, edit, combo, date, item views

} // namespace automation
