// The host's main window: the functions the loaded module serves, and a status area with the
// connection and the last failure the channel reported, so that a failed request is never taken for an
// empty list.
#pragma once

#include <QCoreApplication>

#include <QMainWindow>

#include <functional>
#include <memory>

class FailureToast;
class HostSession;
class QLabel;
class QTimer;
class QTreeWidget;
struct FixCommFailure;

class MainWindow : public QMainWindow {
    // Its texts go under its own name in the translations.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    explicit MainWindow(HostSession& session, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Runs the module for function; returns false (and shows why in the status) when it cannot.
    bool OpenFunction(long function, QString* error = nullptr);

    QString ConnectionText() const;
    QString FailureText() const;
    // The failure notice shown over a module's window, while it shows ("" otherwise).
    QString NoticeText() const;
    QTreeWidget* Functions() const { return m_functions; }

private:
    void openSelected();
    void showFailure(const FixCommFailure& failure);
    void showRecovery();
    // The server ended the session for good: offer the login again (the password is asked only when
    // the user takes the offer), over the window in front.
    void offerLoginAgain();
    void logInAgain();
    void updateConnection();
    void heartbeat();

    HostSession& m_session;
    QTreeWidget* m_functions;
    QLabel* m_connection;
    QLabel* m_failure;
    QTimer* m_heartbeat;
    std::unique_ptr<FailureToast> m_toast;
    bool m_loginOffered = false; // for the session ended last
};
