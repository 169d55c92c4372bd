// Runs a parsed script inside the application's event loop, one command per turn of whichever loop is
// running: when a command opens a modal window (open, click, ok...), the following commands run inside
// that window's loop, exactly as a user's later input would. Between two commands the runner lets the
// posted work of the previous one happen first (a few turns of the loop), and waits until no query or
// export is under way, so that a command after a query acts on its whole answer. When the script ends, or a
// command fails, it closes the open windows from the innermost out and reports the exit code.
#pragma once

#include "client/automation/ScriptParser.h"

#include <QObject>

#include <functional>
#include <string>
#include <vector>

class CWnd;
class QTimer;
class QWidget;

namespace automation {

class HostWindowInfo;
struct ControlKind;

struct ScriptHost {
    // Runs the function's module (returns when its window closes); false with the reason.
    std::function<bool(long function, std::string& error)> open;
    // Are module windows still open? (The runner waits for the module to return before it finishes.)
    std::function<bool()> moduleRunning;
    HostWindowInfo* info = nullptr;
};

class ScriptRunner : public QObject {
public:
    ScriptRunner(std::vector<ScriptCommand> commands, ScriptHost host, QObject* parent = nullptr);

    void Start();
    // Called once, after the last window has closed, with 0 or the failure's exit code.
    void SetFinishedHandler(std::function<void(int code)> handler) { m_finished = std::move(handler); }

private:
    void schedule(std::size_t index, int delayMs, int settleTurns);
    void runAt(std::size_t index);
    // Runs the command once no query of the window is under way (a time limit fails the script).
    void waitIdleThenRun(std::size_t index, int waitedMs);
    bool execute(const ScriptCommand& command, std::string& error);
    // `export`: the list's export, waited for whole; false (with why) when no file was written.
    bool exportList(const ControlKind& kind, QWidget* control, CWnd* wnd, const std::string& path,
                    std::string& error);
    void fail(const ScriptCommand& command, const std::string& reason);
    void beginShutdown(int code);
    void shutdownStep();

    std::vector<ScriptCommand> m_commands;
    ScriptHost m_host;
    std::function<void(int)> m_finished;
    bool m_stopping = false;
    bool m_exporting = false; // an export is writing its file: the next command waits
    int m_exitCode = 0;
    QTimer* m_shutdownTimer = nullptr;
    int m_shutdownTicks = 0;
};

} // namespace automation
