// The JSON state of every visible top-level window: its controls by ID with what each kind shows.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter;
class QWidget;

namespace automation {

class HostWindowInfo {
public:
    virtual ~HostWindowInfo() = default;
    // Keys of the host's own main window (functions, connection, last failure).
    virtual void DumpHostWindow(QWidget* window, JsonWriter& json) = 0;
};

std::string DumpWindows(HostWindowInfo* host);
// The same text handed to `sink` in pieces as it is written (a dump of a long list is tens of MiB).
void DumpWindows(HostWindowInfo* host, const std::function<void(std::string_view)>& sink);

// A list control's rows as text, for printing; false when the control is not a list.
bool ReadTable(QWidget* control, std::vector<std::string>& columns,
               std::vector<std::vector<std::string>>& rows, int& current);

// The rows as a text table with aligned columns (display width of CJK characters counted as two).
std::string FormatTable(const std::vector<std::string>& columns,
                        const std::vector<std::vector<std::string>>& rows, std::size_t maxRows);

} // namespace automation
