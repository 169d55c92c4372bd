// The message pump's hooks for nested loops. While a modal dialog runs (or a hook is installed, as a drag
// does) an application event filter offers every key-down and every posted message to the hooks, newest
// first, then to the PreTranslateMessage of the target window and of each window above it up to its
// top-level dialog. Returning TRUE from any of them swallows the message: no widget receives it.
#pragma once

#include "platform/Messages.h"

#include <functional>

class CWnd;

namespace orvo {

// While alive, fn sees every key-down and posted message of the application before anything else.
class ScopedMessageHook {
public:
    explicit ScopedMessageHook(std::function<BOOL(MSG& msg)> fn);
    ~ScopedMessageHook();
    ScopedMessageHook(const ScopedMessageHook&) = delete;
    ScopedMessageHook& operator=(const ScopedMessageHook&) = delete;

private:
    std::function<BOOL(MSG&)> m_fn;
    friend class MessageFilter;
};

// Runs a nested loop for a modal window until ExitModalLoop; messages of that window and its children
// pass through PreTranslateMessage first.
class ModalLoop {
public:
    explicit ModalLoop(QWidget* window);
    ~ModalLoop();
    ModalLoop(const ModalLoop&) = delete;
    ModalLoop& operator=(const ModalLoop&) = delete;
    void Run();
    void Exit();
    bool IsRunning() const { return m_running; }

private:
    QWidget* m_window;
    void* m_loop = nullptr; // QEventLoop while running
    bool m_running = false;
    bool m_exitRequested = false;
};

// Offers a message to the PreTranslateMessage chain of its target window (target first, then each window
// above it up to and including its top-level window); TRUE when one of them swallowed it.
BOOL WalkPreTranslateTree(MSG& msg);

} // namespace orvo
