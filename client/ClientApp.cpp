#include "client/ClientApp.h"

#include "client/HostSession.h"
#include "client/Json.h"
#include "client/Logging.h"
#include "client/automation/Dump.h"
#include "client/automation/ScriptParser.h"
#include "client/automation/ScriptRunner.h"
#include "client/ui/ChannelTexts.h"
#include "client/ui/LoginDialog.h"
#include "client/ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace {

constexpr const char* kPasswordVariable = "ORVO_PASSWORD";

std::string dataFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation).toStdString();
}

std::string configFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString();
}

// Start-up failures go to the log and standard error (in English); someone who started the client from a
// desktop also gets them in a message box, in the windows' language.
void report(const std::string& message, bool interactive = false) {
    qCritical("%s", message.c_str());
    if (interactive)
        QMessageBox::critical(nullptr, "orvo-client", ChannelFailureText(QString::fromStdString(message)));
}

// A translation of the system's language into the application, owned by it; false when there is none.
bool installTranslation(const QString& name, const QString& folder) {
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(), name, QStringLiteral("_"), folder)) {
        QCoreApplication::installTranslator(translator);
        return true;
    }
    delete translator;
    return false;
}

// A fresh user gets a configuration file that shows every setting, all commented out.
void writeConfigTemplate(const std::string& path) {
    QDir().mkpath(QString::fromStdString(configFolder()));
    QFile file(QString::fromStdString(path));
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        file.write(ConfigTemplate());
}

int exitCodeOf(LoginResult result) {
    switch (result) {
    case LoginResult::Ok:
        return kExitOk;
    case LoginResult::Refused:
        return kExitLoginRefused;
    case LoginResult::Busy:
        return kExitBusy;
    case LoginResult::Unreachable:
        break;
    }
    return kExitUnreachable;
}

class HostWindowDump : public automation::HostWindowInfo {
public:
    explicit HostWindowDump(MainWindow& window) : m_window(window) {}
    void DumpHostWindow(QWidget*, JsonWriter& json) override {
        json.Key("functions").BeginArray();
        QTreeWidget* list = m_window.Functions();
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            json.BeginObject()
                .Field("function", list->topLevelItem(i)->text(0).toLongLong())
                .Field("name", list->topLevelItem(i)->text(1).toUtf8().toStdString())
                .EndObject();
        json.EndArray();
        json.Field("connection", m_window.ConnectionText().toUtf8().toStdString());
        json.Field("failure", m_window.FailureText().toUtf8().toStdString());
        json.Field("notice", m_window.NoticeText().toUtf8().toStdString());
    }

private:
    MainWindow& m_window;
};

} // namespace

ClientApp::ClientApp(ClientOptions options) : m_options(std::move(options)) {
    m_scriptMode = !m_options.scriptPath.empty();
}

ClientApp::~ClientApp() {
    m_window.reset();
    m_session.reset();
}

int ClientApp::Run() {
    const std::string logPath =
        m_options.logPath.empty() ? dataFolder() + "/orvo-client.log" : m_options.logPath;
    std::string error;
    if (!InstallClientLog(logPath, m_options.verbosity, error))
        qWarning("%s", error.c_str());
    qInfo("orvo-client starting; log in %s", logPath.c_str());

    // Parse the script before anything connects: a malformed script fails at once.
    std::vector<ScriptCommand> commands;
    if (m_scriptMode) {
        ScriptError scriptError;
        bool parsed = false;
        if (m_options.scriptPath == "-") {
            parsed = ParseScript(std::cin, commands, scriptError);
        } else {
            std::ifstream in(m_options.scriptPath);
            if (!in) {
                report("cannot read the script " + m_options.scriptPath);
                return kExitUsage;
            }
            parsed = ParseScript(in, commands, scriptError);
        }
        if (!parsed) {
            std::fprintf(stderr, "script line %d: %s\n", scriptError.line, scriptError.reason.c_str());
            return kExitUsage;
        }
    }

    if (const int code = startUp(); code != kExitOk)
        return code;

    m_window = std::make_unique<MainWindow>(*m_session);
    m_window->show();

    int scriptCode = kExitOk;
    HostWindowDump hostDump(*m_window);
    if (m_options.openFunction != 0) {
        const long function = m_options.openFunction;
        QTimer::singleShot(0, m_window.get(), [this, function] {
            QString reason;
            if (!m_window->OpenFunction(function, &reason) && !m_scriptMode)
                report(reason.toStdString(), true);
        });
    }
    std::unique_ptr<automation::ScriptRunner> runner;
    if (m_scriptMode) {
        automation::ScriptHost host;
        host.open = [this](long function, std::string& reason) {
            QString why;
            const bool opened = m_window->OpenFunction(function, &why);
            reason = why.toStdString();
            return opened;
        };
        host.moduleRunning = [this] { return m_session->Module().IsRunning(); };
        host.info = &hostDump;
        runner = std::make_unique<automation::ScriptRunner>(std::move(commands), host);
        runner->SetFinishedHandler([&scriptCode](int code) {
            scriptCode = code;
            QApplication::exit(code);
        });
        // After --open, so that a script that follows --open runs inside the module's window.
        QTimer::singleShot(0, runner.get(), [&runner] { runner->Start(); });
    }
    const int code = QApplication::exec();
    runner.reset();
    FlushClientLog();
    return m_scriptMode ? scriptCode : code;
}

int ClientApp::startUp() {
    m_session = std::make_unique<HostSession>([](int level, const std::string& line) {
        if (level == 0)
            qWarning("%s", line.c_str());
        else if (level == 1)
            qInfo("%s", line.c_str());
        else
            qDebug("%s", line.c_str());
    });

    std::string iniPath = m_options.configPath;
    if (iniPath.empty()) {
        iniPath = configFolder() + "/orvo-client.ini";
        if (!QFile::exists(QString::fromStdString(iniPath)))
            writeConfigTemplate(iniPath);
    } else if (!QFile::exists(QString::fromStdString(iniPath))) {
        report("configuration file " + iniPath + " does not exist", !m_scriptMode);
        return kExitUsage;
    }
    std::string error;
    if (!m_session->Configure(iniPath, m_options, error)) {
        report(iniPath + ": " + error, !m_scriptMode);
        return kExitUsage;
    }
    qInfo("configuration %s", iniPath.c_str());
    if (!m_options.tracePath.empty() && !m_session->OpenTrace(m_options.tracePath, error)) {
        report(error, !m_scriptMode);
        return kExitUsage;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor); // the first run seeds the demo database
    const bool serverStarted = m_session->StartServerIfEmbedded(dataFolder() + "/demo.db", error);
    QApplication::restoreOverrideCursor();
    if (!serverStarted) {
        report("cannot start the embedded demo server: " + error, !m_scriptMode);
        return kExitUnreachable;
    }

    int code = kExitOk;
    if (!login(error, code)) {
        if (!error.empty())
            report(error, !m_scriptMode);
        return code;
    }
    // The module keeps its window layouts per operator under this name.
    qApp->setProperty("orvoOperator", QString::fromStdString(m_session->OperatorName()));

    std::unique_ptr<QProgressDialog> progress;
    if (!m_scriptMode) {
        progress = std::make_unique<QProgressDialog>(
            QCoreApplication::translate("ClientApp", "Loading the code tables..."), QString(), 0, 0);
        progress->setWindowModality(Qt::ApplicationModal);
        progress->setMinimumDuration(500);
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool downloaded = m_session->DownloadTables(
        [&progress](const std::string& name, int index, int count) {
            if (!progress)
                return;
            progress->setMaximum(count);
            progress->setValue(index);
            progress->setLabelText(QCoreApplication::translate("ClientApp", "Loading the code table %1...")
                                       .arg(QString::fromStdString(name)));
        },
        error);
    QApplication::restoreOverrideCursor();
    progress.reset();
    if (!downloaded) {
        report(error, !m_scriptMode);
        return kExitUnreachable;
    }

    if (!m_session->OpenModule(ModuleLoader::DefaultModulePath(), error)) {
        report(error, !m_scriptMode);
        return kExitModule;
    }
    return kExitOk;
}

bool ClientApp::login(std::string& error, int& code) {
    const ClientConfig& config = m_session->Config();
    std::string operatorName = config.operatorName;

    // The embedded demo server's own operator needs no prompt.
    if (config.embedded && operatorName == kDemoOperator && !std::getenv(kPasswordVariable)) {
        const LoginResult result = m_session->Login(operatorName, kDemoPassword, error);
        code = exitCodeOf(result);
        return result == LoginResult::Ok;
    }

    if (m_scriptMode) {
        const char* password = std::getenv(kPasswordVariable);
        if (operatorName.empty()) {
            error = "no operator to log in as: give --operator NAME or [SERVER] Operator";
            code = kExitLoginRefused;
            return false;
        }
        if (!password) {
            error = std::string("script mode takes the password from ") + kPasswordVariable +
                    ", which is not set";
            code = kExitLoginRefused;
            return false;
        }
        const LoginResult result = m_session->Login(operatorName, password, error);
        code = exitCodeOf(result);
        return result == LoginResult::Ok;
    }

    LoginDialog dialog(QString::fromStdString(m_session->ServerList()), QString::fromStdString(operatorName));
    // The login waits for a busy server within the connect time-out: say so while it does.
    m_session->SetBusyListener([&dialog] {
        dialog.ShowBusy();
        dialog.show(); // accepted, so hidden, while the login runs
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    struct BusyListenerReset {
        HostSession& session;
        ~BusyListenerReset() { session.SetBusyListener({}); }
    } busyListenerReset{*m_session};
    for (;;) {
        if (dialog.exec() != QDialog::Accepted) {
            error.clear();
            code = kExitCancelled;
            return false;
        }
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const LoginResult result =
            m_session->Login(dialog.OperatorName().toStdString(), dialog.Password().toStdString(), error);
        QApplication::restoreOverrideCursor();
        if (result == LoginResult::Ok)
            return true;
        dialog.ShowError(ChannelFailureText(QString::fromStdString(error)));
        qWarning("%s", error.c_str());
    }
}

void InstallTranslations() {
    installTranslation(QStringLiteral("orvo-client"), QStringLiteral(":/i18n"));
    // Qt's own dialogs and buttons (the file dialog, the standard buttons): the system's Qt translations,
    // the base module's catalogue, or the catalogue of all modules where only that is installed.
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!installTranslation(QStringLiteral("qtbase"), qtFolder))
        installTranslation(QStringLiteral("qt"), qtFolder);
}

int PrintDumpTables(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "orvo-client: cannot read %s\n", path.c_str());
        return kExitUsage;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (document.isNull()) {
        std::fprintf(stderr, "orvo-client: %s: %s\n", path.c_str(),
                     parseError.errorString().toUtf8().constData());
        return kExitUsage;
    }
    constexpr std::size_t kMaxRows = 20;
    for (const QJsonValue windowValue : document.object().value("windows").toArray()) {
        const QJsonObject window = windowValue.toObject();
        for (const QJsonValue controlValue : window.value("controls").toArray()) {
            const QJsonObject control = controlValue.toObject();
            if (control.value("kind").toString() != "list" || !control.value("visible").toBool())
                continue;
            // The display columns come first; "color" starts the hidden key columns.
            std::vector<std::string> columns;
            for (const QJsonValue column : control.value("columns").toArray()) {
                if (column.toString() == "color")
                    break;
                columns.push_back(column.toString().toStdString());
            }
            std::vector<std::vector<std::string>> rows;
            for (const QJsonValue rowValue : control.value("rows").toArray()) {
                std::vector<std::string> row;
                for (const QJsonValue cell : rowValue.toArray()) {
                    if (row.size() == columns.size())
                        break;
                    row.push_back(cell.toString().toStdString());
                }
                rows.push_back(std::move(row));
            }
            std::printf("== %s: list %s ==\n%s\n", window.value("title").toString().toUtf8().constData(),
                        control.value("id").toString().toUtf8().constData(),
                        automation::FormatTable(columns, rows, kMaxRows).c_str());
        }
    }
    return kExitOk;
}
