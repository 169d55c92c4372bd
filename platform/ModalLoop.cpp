#include "platform/ModalLoop.h"

#include "platform/DialogBuilder.h"
#include "platform/Wnd.h"
#include "platform/WndInternal.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <vector>

namespace orvo {

// The application event filter. Installed while any modal loop or hook is active.
class MessageFilter : public QObject {
public:
    static MessageFilter& Instance() {
        static auto* filter = new MessageFilter;
        return *filter;
    }

    void AddUser() {
        if (m_users++ == 0 && qApp)
            qApp->installEventFilter(this);
    }
    void RemoveUser() {
        if (--m_users == 0 && qApp)
            qApp->removeEventFilter(this);
    }

    std::vector<ScopedMessageHook*> hooks;
    std::vector<QWidget*> modalWindows;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!watched->isWidgetType())
            return false;
        const bool posted = event->type() == PostedMessageEvent::EventType();
        if (!posted && event->type() != QEvent::KeyPress)
            return false;
        if (!posted && std::find(m_redelivering.begin(), m_redelivering.end(), event) != m_redelivering.end())
            return false; // our own copy travelling to the widget and up its parents
        auto* receiver = static_cast<QWidget*>(watched);

        MSG msg;
        if (posted) {
            msg = static_cast<PostedMessageEvent*>(event)->msg;
            msg.hwnd = receiver;
        } else {
            const auto* key = static_cast<QKeyEvent*>(event);
            msg.hwnd = WindowAt(receiver);
            msg.message = WM_KEYDOWN;
            msg.wParam = VirtualKeyFromQt(key->key());
            msg.lParam = MAKELPARAM(1, key->isAutoRepeat() ? 0x4000 : 0);
            if (!msg.wParam)
                return false;
        }
        // Windows outside the modal dialogs, with no hook installed, go their own way untouched.
        if (hooks.empty() && !IsModal(msg.hwnd ? msg.hwnd->window() : nullptr))
            return false;
        QPointer<QWidget> alive(receiver);
        if (Offer(msg)) {
            event->accept();
            return true;
        }
        if (!alive)
            return true;
        if (posted)
            return false; // delivered to the window's own handlers as usual
        // A key event travels from the focus widget up through its parents, and each step passes this filter
        // again. Deliver a copy ourselves (marked, so it is not offered twice) and stop the original.
        std::unique_ptr<QEvent> copy(static_cast<QKeyEvent*>(event)->clone());
        m_redelivering.push_back(copy.get());
        QCoreApplication::sendEvent(receiver, copy.get());
        m_redelivering.erase(std::find(m_redelivering.begin(), m_redelivering.end(), copy.get()));
        event->setAccepted(true);
        return true;
    }

private:
    bool Offer(MSG& msg) {
        // Newest hook first; a hook may remove itself while running.
        const std::vector<ScopedMessageHook*> snapshot = hooks;
        for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it)
            if (std::find(hooks.begin(), hooks.end(), *it) != hooks.end() && (*it)->m_fn(msg))
                return true;
        if (!msg.hwnd || !IsModal(msg.hwnd->window()))
            return false;
        return WalkPreTranslateTree(msg) != FALSE;
    }

    bool IsModal(QWidget* window) const {
        return window && std::find(modalWindows.begin(), modalWindows.end(), window) != modalWindows.end();
    }

    int m_users = 0;
    std::vector<QEvent*> m_redelivering;
};

BOOL WalkPreTranslateTree(MSG& msg) {
    std::vector<QPointer<QWidget>> chain;
    for (QWidget* w = msg.hwnd; w; w = w->parentWidget()) {
        chain.emplace_back(w);
        if (w->isWindow())
            break;
    }
    for (const QPointer<QWidget>& w : chain) {
        if (!w)
            return TRUE; // the window went away while its message was offered
        if (CWnd* wnd = CWnd::FromHandlePermanent(w); wnd && wnd->PreTranslateMessage(&msg))
            return TRUE;
    }
    return FALSE;
}

ScopedMessageHook::ScopedMessageHook(std::function<BOOL(MSG&)> fn) : m_fn(std::move(fn)) {
    MessageFilter& filter = MessageFilter::Instance();
    filter.hooks.push_back(this);
    filter.AddUser();
}

ScopedMessageHook::~ScopedMessageHook() {
    MessageFilter& filter = MessageFilter::Instance();
    filter.hooks.erase(std::remove(filter.hooks.begin(), filter.hooks.end(), this), filter.hooks.end());
    filter.RemoveUser();
}

ModalLoop::ModalLoop(QWidget* window) : m_window(window) {
    MessageFilter& filter = MessageFilter::Instance();
    filter.modalWindows.push_back(window);
    filter.AddUser();
}

ModalLoop::~ModalLoop() {
    Exit();
    MessageFilter& filter = MessageFilter::Instance();
    const auto it = std::find(filter.modalWindows.begin(), filter.modalWindows.end(), m_window);
    if (it != filter.modalWindows.end())
        filter.modalWindows.erase(it);
    filter.RemoveUser();
}

void ModalLoop::Run() {
    if (m_exitRequested)
        return;
    QEventLoop loop;
    m_loop = &loop;
    m_running = true;
    loop.exec(QEventLoop::DialogExec);
    m_running = false;
    m_loop = nullptr;
}

void ModalLoop::Exit() {
    m_exitRequested = true;
    if (m_loop)
        static_cast<QEventLoop*>(m_loop)->exit(0);
}

} // namespace orvo
