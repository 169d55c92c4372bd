// The start-up of the host application and its run: configuration, the embedded server, the login (a
// dialog, or the environment in script mode), the code tables, the module, then the main window with
// --open and --script.
#pragma once

#include "client/ClientOptions.h"

#include <memory>
#include <string>

class HostSession;
class MainWindow;

// Exit codes of orvo-client.
enum ClientExit : int {
    kExitOk = 0,
    kExitScriptFailed = 1, // a script command failed
    kExitUsage = 2,        // bad command line or configuration
    kExitUnreachable = 3,  // the counter server cannot be reached, or the channel failed at start-up
    kExitLoginRefused = 4, // wrong operator or password, or no password given
    kExitModule = 5,       // the module cannot be loaded
    kExitCancelled = 6,    // the user cancelled the login
    kExitBusy = 7,         // the counter server answered busy for the whole connect time-out
};

class ClientApp {
public:
    explicit ClientApp(ClientOptions options);
    ~ClientApp();
    int Run(); // needs a QApplication

private:
    int startUp();
    bool login(std::string& error, int& code);

    ClientOptions m_options;
    std::unique_ptr<HostSession> m_session;
    std::unique_ptr<MainWindow> m_window;
    bool m_scriptMode = false;
};

// The windows speak the system's language where a translation is built in (Chinese), Qt's own dialogs
// with them from Qt's installed translations; English is the source and the fallback. The log stays
// English. Needs a QApplication.
void InstallTranslations();

// --print-dump FILE: every list of a dump printed as a text table (the tour uses it).
int PrintDumpTables(const std::string& path);
