#include "client/automation/ScriptRunner.h"

#include "client/automation/ControlKinds.h"
#include "client/automation/Dump.h"
#include "client/automation/Input.h"
#include "client/automation/Windows.h"
#include "platform/Wnd.h"

#include <QApplication>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace automation {
namespace {

constexpr int kSettleTurns = 3;         // turns of the event loop between two commands
constexpr int kShutdownIntervalMs = 50; // between two attempts to close the innermost window
constexpr int kShutdownLimitMs = 15000; // windows that will not close by then: give up
constexpr int kExitFailure = 1;
// A command waits for the window's query to end, polling this often, at most this long.
constexpr int kIdlePollMs = 20;
constexpr int kIdleLimitMs = 120000;
// What the query window sets on the application while a request is under way.
constexpr const char* kQueriesRunning = "orvoQueriesRunning";

// A query (or a refresh) is under way: the window is not idle.
bool windowBusy() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && app->property(kQueriesRunning).toInt() > 0;
}

int number(const std::string& text) {
    return std::stoi(text);
}

bool dumpToStdout(HostWindowInfo* host) {
    DumpWindows(host, [](std::string_view piece) { std::fwrite(piece.data(), 1, piece.size(), stdout); });
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return true;
}

// The dump goes to the file as it is written, not built whole first.
bool dumpToFile(HostWindowInfo* host, const std::string& path, std::string& error) {
    QFile file(QString::fromStdString(path));
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const auto write = [&](std::string_view piece) {
        written = written && file.write(piece.data(), static_cast<qint64>(piece.size())) ==
                                 static_cast<qint64>(piece.size());
    };
    if (written) {
        DumpWindows(host, write);
        write("\n");
    }
    if (written)
        written = file.flush();
    if (!written) {
        error = "cannot write " + path + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

} // namespace

ScriptRunner::ScriptRunner(std::vector<ScriptCommand> commands, ScriptHost host, QObject* parent)
    : QObject(parent), m_commands(std::move(commands)), m_host(std::move(host)) {}

void ScriptRunner::Start() {
    schedule(0, 0, kSettleTurns);
}

void ScriptRunner::schedule(std::size_t index, int delayMs, int settleTurns) {
    QTimer::singleShot(delayMs, this, [this, index, settleTurns] {
        if (m_stopping)
            return;
        if (settleTurns > 0)
            schedule(index, 0, settleTurns - 1);
        else
            waitIdleThenRun(index, 0);
    });
}

void ScriptRunner::waitIdleThenRun(std::size_t index, int waitedMs) {
    // A command acts on the window as the query left it, not part-way through its rows: it waits for the
    // query to end (the wait's own turns of the loop run it on). `wait` is time alone.
    const bool isWait = index < m_commands.size() && m_commands[index].name == "wait";
    if (isWait || index >= m_commands.size() || (!windowBusy() && !m_exporting)) {
        runAt(index);
        return;
    }
    if (waitedMs >= kIdleLimitMs) {
        fail(m_commands[index],
             "the window was still busy with a query after " + std::to_string(kIdleLimitMs / 1000) + " s");
        return;
    }
    QTimer::singleShot(kIdlePollMs, this, [this, index, waitedMs] {
        if (!m_stopping)
            waitIdleThenRun(index, waitedMs + kIdlePollMs);
    });
}

void ScriptRunner::runAt(std::size_t index) {
    if (index >= m_commands.size()) {
        beginShutdown(0);
        return;
    }
    const ScriptCommand& command = m_commands[index];
    // The next command is due before this one runs: if this one opens a modal window, the next runs in
    // that window's loop, as a user's next input would.
    int delayAfter = 0;
    const bool isWait = command.name == "wait";
    if (isWait)
        delayAfter = number(command.args[0]);
    schedule(index + 1, delayAfter, kSettleTurns);
    if (isWait)
        return;
    std::string error;
    qDebug("script line %d: %s", command.line, command.name.c_str());
    bool done = false;
    try {
        done = execute(command, error);
    } catch (const std::exception& exception) { // nothing may escape into Qt's event handling
        error = std::string("internal error: ") + exception.what();
    }
    if (!done)
        fail(command, error);
}

bool ScriptRunner::exportList(const ControlKind& kind, QWidget* control, CWnd* wnd, const std::string& path,
                              std::string& error) {
    // The export shows its progress in a loop of its own: the next command waits for the file to be whole,
    // as it waits for a query.
    m_exporting = true;
    const bool written = kind.exportTo(control, wnd, path, error);
    m_exporting = false;
    if (!written) {
        error = "nothing was written to " + path + (error.empty() ? std::string() : ": " + error);
        return false;
    }
    const QFileInfo file(QString::fromStdString(path));
    if (!file.exists() || file.size() == 0) {
        error = "nothing was written to " + path;
        return false;
    }
    return true;
}

void ScriptRunner::fail(const ScriptCommand& command, const std::string& reason) {
    if (m_stopping)
        return;
    // To standard error and the log alike.
    qCritical("script line %d: %s: %s", command.line, command.name.c_str(), reason.c_str());
    beginShutdown(kExitFailure);
}

bool ScriptRunner::execute(const ScriptCommand& command, std::string& error) {
    const std::string& name = command.name;
    const std::vector<std::string>& args = command.args;

    if (name == "open")
        return m_host.open(number(args[0]), error);

    if (name == "dump")
        return args.empty() ? dumpToStdout(m_host.info) : dumpToFile(m_host.info, args[0], error);

    QWidget* window = ActiveWindow();
    if (!window) {
        error = "no active window";
        return false;
    }

    if (name == "shot") {
        if (!window->grab().save(QString::fromStdString(args[0]), "PNG")) {
            error = "cannot save a PNG to " + args[0];
            return false;
        }
        return true;
    }
    if (name == "resize") {
        if (window->isMaximized() || window->isMinimized())
            window->showNormal();
        // W and H are the window's outer size, frame included, as a user's drag of the frame sets it.
        const QSize frame = window->frameGeometry().size() - window->size();
        window->resize(std::max(1, number(args[0]) - frame.width()),
                       std::max(1, number(args[1]) - frame.height()));
        return true;
    }
    if (name == "maximize" || name == "minimize" || name == "restore") {
        if (name == "maximize")
            window->showMaximized();
        else if (name == "minimize")
            window->showMinimized();
        else
            window->showNormal();
        return true;
    }
    if (name == "ok" || name == "cancel") {
        if (!IsLayerWindow(window)) {
            error = "no active dialog (the active window is " + DescribeWindow(window) + ")";
            return false;
        }
        QWidget* button = FindControl(window, name == "ok" ? "1" : "2");
        if (!button || !button->isVisible()) {
            error = "the active dialog " + DescribeWindow(window) + " has no button " +
                    (name == "ok" ? "1" : "2");
            return false;
        }
        if (!button->isEnabled()) {
            error = "button " + std::string(name == "ok" ? "1" : "2") + " of " + DescribeWindow(window) +
                    " is disabled";
            return false;
        }
        ClickCenter(button);
        return true;
    }
    if (name == "tab") {
        for (QWidget* control : ControlsOf(window))
            if (Kind(control) == "tab")
                return ClickTab(control, number(args[0]), error);
        error = "the active window " + DescribeWindow(window) + " has no tab control";
        return false;
    }
    if (name == "key" && args.size() == 1)
        return PressKey(nullptr, args[0], error);

    // Every other command names a control of the active window ("key" names it second).
    const std::string& ref = name == "key" ? args[1] : args[0];
    QWidget* control = FindControl(window, ref);
    if (!control) {
        error = "no control " + ref + " in the active window " + DescribeWindow(window);
        return false;
    }
    const auto usable = [&](bool needEnabled) {
        if (!control->isVisible())
            error = "control " + ref + " is hidden";
        else if (needEnabled && !control->isEnabled())
            error = "control " + ref + " is disabled";
        else
            return true;
        return false;
    };

    if (name == "key") // key KEY ID: the key is the first word, the control the second
        return usable(true) && PressKey(control, args[0], error);
    if (name == "type") {
        if (!usable(true))
            return false;
        TypeText(control, args[1]);
        return true;
    }
    if (name == "clear") {
        if (!usable(true))
            return false;
        ClearText(control);
        return true;
    }
    if (name == "focus") {
        if (!usable(true))
            return false;
        FocusControl(control);
        return true;
    }
    if (name == "click") {
        if (!usable(true))
            return false;
        ClickCenter(control);
        return true;
    }
    if (name == "row" || name == "dblclick")
        return usable(true) && ClickListRow(control, number(args[1]), name == "dblclick", error);
    if (name == "header")
        return usable(true) && ClickHeader(control, number(args[1]), error);
    if (name == "drag") {
        if (!usable(false))
            return false;
        Drag(control, number(args[1]));
        return true;
    }
    const ControlKind* kind = ControlKinds::Instance().Find(control);
    CWnd* wnd = CWnd::FromHandlePermanent(control);
    if (name == "pick") {
        if (!kind || !kind->pick) {
            error = "control " + args[0] + " has no entries to pick";
            return false;
        }
        return usable(true) && kind->pick(control, wnd, args[1], error);
    }
    if (name == "export") {
        if (!kind || !kind->exportTo) {
            error = "control " + args[0] + " is not a record list";
            return false;
        }
        return exportList(*kind, control, wnd, args[1], error);
    }
    if (name == "check") {
        if (!kind || !kind->check) {
            error = "control " + args[0] + " is not a check combo box";
            return false;
        }
        return usable(true) && kind->check(control, wnd, args[1], args[2] == "1", error);
    }
    if (name == "date") {
        if (!usable(true))
            return false;
        const QDate date = QDate::fromString(QString::fromStdString(args[1]), "yyyy-MM-dd");
        if (!date.isValid()) {
            error = args[1] + " is not a date";
            return false;
        }
        if (kind && kind->setDate)
            return kind->setDate(control, date.year(), date.month(), date.day(), error);
        auto* picker = qobject_cast<QDateTimeEdit*>(control);
        if (!picker)
            picker = control->findChild<QDateTimeEdit*>();
        if (!picker) {
            error = "control " + args[0] + " is not a date picker";
            return false;
        }
        FocusControl(picker);
        picker->setDate(date); // the change notification fires as for a date the user chose
        return true;
    }
    error = "unknown command";
    return false;
}

void ScriptRunner::beginShutdown(int code) {
    if (m_stopping)
        return;
    m_stopping = true;
    m_exitCode = code;
    m_shutdownTimer = new QTimer(this);
    connect(m_shutdownTimer, &QTimer::timeout, this, [this] { shutdownStep(); });
    m_shutdownTimer->start(kShutdownIntervalMs);
}

void ScriptRunner::shutdownStep() {
    ++m_shutdownTicks;
    QWidget* modal = QApplication::activeModalWidget();
    const bool moduleRunning = m_host.moduleRunning && m_host.moduleRunning();
    if (!modal && !moduleRunning) {
        m_shutdownTimer->stop();
        if (m_finished)
            m_finished(m_exitCode);
        return;
    }
    if (m_shutdownTicks * kShutdownIntervalMs > kShutdownLimitMs) {
        std::fprintf(stderr, "orvo-client: the windows did not close within %d s; exiting\n",
                     kShutdownLimitMs / 1000);
        std::fflush(stderr);
        std::_Exit(m_exitCode ? m_exitCode : kExitFailure);
    }
    if (modal)
        modal->close(); // the close box: a dialog ends with IDCANCEL
}

} // namespace automation
