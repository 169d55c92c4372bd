#include "client/ui/MainWindow.h"

#include "client/HostSession.h"
#include "client/ui/ChannelTexts.h"
#include "client/ui/FailureToast.h"
#include "client/ui/LoginDialog.h"
#include "host/com/FixComm.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kHeartbeatMs = 30000;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

MainWindow::MainWindow(HostSession& session, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_functions(new QTreeWidget(this)),
      m_connection(new QLabel(this)), m_failure(new QLabel(this)), m_heartbeat(new QTimer(this)) {
    setObjectName("orvoMainWindow");

    const ModuleIdentity& module = session.Module().Identity();
    m_functions->setObjectName("functions");
    m_functions->setColumnCount(4);
    m_functions->setHeaderLabels({tr("Function"), tr("Name"), tr("Module"), tr("Version")});
    m_functions->setRootIsDecorated(false);
    m_functions->setAllColumnsShowFocus(true);
    for (const long function : module.functions) {
        auto* item = new QTreeWidgetItem(m_functions);
        item->setText(0, QString::number(function));
        item->setText(1, fromUtf8(module.name));
        item->setText(2, fromUtf8(module.description));
        item->setText(3, fromUtf8(module.version));
        item->setData(0, Qt::UserRole, static_cast<qlonglong>(function));
    }
    m_functions->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (m_functions->topLevelItemCount() > 0)
        m_functions->setCurrentItem(m_functions->topLevelItem(0));
    connect(m_functions, &QTreeWidget::itemActivated, this, [this] { openSelected(); });

    auto* open = new QPushButton(tr("&Open"), this);
    open->setObjectName("open");
    open->setEnabled(m_functions->topLevelItemCount() > 0);
    connect(open, &QPushButton::clicked, this, [this] { openSelected(); });

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* openAction = file->addAction(tr("&Open function"), this, [this] { openSelected(); });
    openAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    openAction->setEnabled(open->isEnabled());
    file->addAction(tr("Log &in again..."), this, [this] { logInAgain(); });
    file->addSeparator();
    file->addAction(tr("&Quit"), QKeySequence::Quit, this, [this] { close(); });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(m_functions);
    layout->addWidget(open, 0, Qt::AlignRight);
    setCentralWidget(central);

    m_connection->setObjectName("connection");
    m_failure->setObjectName("failure");
    m_failure->setStyleSheet("color: #b00020");
    statusBar()->addWidget(m_connection);
    statusBar()->addWidget(m_failure, 1);
    session.SetFailureListener([this](const FixCommFailure& failure) { showFailure(failure); });
    session.SetServerListener([this] { updateConnection(); }); // another server of the list took over
    session.SetRecoveryListener([this] { showRecovery(); });
    // The module's own lines (its status line) tell a failure in the same words as this window.
    session.Channel().SetUserTextCallback([](const CString& text) {
        return CString::FromUtf8(
            ChannelFailureText(QString::fromUtf8(text.ToUtf8().c_str())).toUtf8().constData());
    });
    updateConnection();
    // Lists the module fills from a table the server did not have stay empty; say so from the start.
    const std::vector<std::string>& missing = session.TablesOutcome().missing;
    if (!missing.empty()) {
        QStringList names;
        for (const std::string& name : missing)
            names << fromUtf8(name);
        m_failure->setText(tr("Code tables not on the server: %1").arg(names.join(", ")));
    }

    // While no module window is open, a heartbeat keeps the connection state honest.
    connect(m_heartbeat, &QTimer::timeout, this, [this] { heartbeat(); });
    m_heartbeat->start(kHeartbeatMs);
    resize(640, 360);
}

MainWindow::~MainWindow() {
    m_session.Channel().SetUserTextCallback({});
}

bool MainWindow::OpenFunction(long function, QString* error) {
    ModuleHost& module = m_session.Module();
    QString reason;
    if (module.IsRunning())
        reason = tr("function %1 is already open").arg(function);
    else if (!module.Serves(function))
        reason = tr("no loaded module serves function %1").arg(function);
    if (!reason.isEmpty()) {
        qWarning("%s", qPrintable(reason));
        if (error)
            *error = reason;
        return false;
    }
    qInfo("opening function %ld", function);
    const std::string status = module.RunMain(function);
    qInfo("function %ld closed", function);
    updateConnection();
    if (!status.empty()) {
        // The module names what kept its window from opening.
        reason = tr("function %1: %2").arg(function).arg(fromUtf8(status));
        m_failure->setText(reason);
        qWarning("%s", qPrintable(reason));
        if (error)
            *error = reason;
        return false;
    }
    return true;
}

QString MainWindow::ConnectionText() const {
    return m_connection->text();
}

QString MainWindow::FailureText() const {
    return m_failure->text();
}

QString MainWindow::NoticeText() const {
    return m_toast && m_toast->isVisible() ? m_toast->text() : QString();
}

void MainWindow::openSelected() {
    const QTreeWidgetItem* item = m_functions->currentItem();
    if (item)
        OpenFunction(item->data(0, Qt::UserRole).toLongLong());
}

void MainWindow::showFailure(const FixCommFailure& failure) {
    // Staff read the reason; the function and status numbers are in the log.
    m_failure->setText(tr("%1 request failed: %2")
                           .arg(QTime::currentTime().toString("HH:mm:ss"),
                                ChannelFailureText(QString::fromUtf8(failure.text.ToUtf8().c_str()))));
    updateConnection();
    // A module's window in front hides the status bar: tell the user over it.
    if (m_session.Module().IsRunning()) {
        if (!m_toast)
            m_toast = std::make_unique<FailureToast>();
        m_toast->ShowOver(QApplication::activeModalWidget(), m_failure->text());
    }
    // Once per ended session, and after the request that met the end has returned: the channel is the
    // caller's until then.
    if (m_session.Channel().SessionEndedForGood() && !m_loginOffered) {
        m_loginOffered = true;
        QTimer::singleShot(0, this, [this] { offerLoginAgain(); });
    }
}

void MainWindow::offerLoginAgain() {
    QWidget* front = QApplication::activeModalWidget();
    auto* box = new QMessageBox(
        QMessageBox::Warning, windowTitle(),
        ChannelFailureText(QString::fromUtf8(m_session.Channel().LastFailure().text.ToUtf8().c_str())) +
            "\n" + tr("The session will not log in again by itself."),
        QMessageBox::NoButton, front ? front : this);
    box->setObjectName("sessionEnded");
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* again = box->addButton(tr("Log in again..."), QMessageBox::AcceptRole);
    box->addButton(tr("Later"), QMessageBox::RejectRole);
    connect(box, &QMessageBox::finished, this, [this, box, again] {
        if (box->clickedButton() == again)
            logInAgain();
    });
    box->open(); // window-modal, without a loop of its own: nothing waits on it
}

void MainWindow::logInAgain() {
    QWidget* front = QApplication::activeModalWidget();
    LoginDialog dialog(QString::fromStdString(m_session.ServerList()), fromUtf8(m_session.OperatorName()),
                       front ? front : this);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return;
        std::string error;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const LoginResult result =
            m_session.Login(dialog.OperatorName().toStdString(), dialog.Password().toStdString(), error);
        QApplication::restoreOverrideCursor();
        if (result == LoginResult::Ok) {
            m_loginOffered = false;
            updateConnection();
            return;
        }
        dialog.ShowError(ChannelFailureText(QString::fromStdString(error)));
    }
}

void MainWindow::showRecovery() {
    m_failure->setText(tr("%1 recovered").arg(QTime::currentTime().toString("HH:mm:ss")));
    if (m_toast)
        m_toast->hide();
    updateConnection();
}

void MainWindow::updateConnection() {
    // The title names the server in use, which follows a move to the next server of the list.
    setWindowTitle(QString("orvo-client - %1@%2%3")
                       .arg(fromUtf8(m_session.OperatorName()), fromUtf8(m_session.ServerAddress()),
                            m_session.Config().embedded ? QStringLiteral(" (演示数据)") : QString()));
    const bool connected = m_session.Channel().IsConnected();
    QString text =
        connected ? tr("Connected to %1") : tr("Not connected to %1 (reconnects on the next request)");
    text = text.arg(fromUtf8(m_session.ServerAddress()));
    if (m_session.Config().embedded)
        text += tr(" (embedded demo server)");
    else if (connected && m_session.Config().tls)
        text += tr(" over TLS");
    m_connection->setText(text);
}

void MainWindow::heartbeat() {
    if (m_session.Module().IsRunning())
        return; // the module owns the channel while its window is open
    m_session.Channel().Heartbeat();
    updateConnection();
}
