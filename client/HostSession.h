// Everything the host holds for one run: the configuration, the channel to the counter server (or the
// embedded server behind it), the downloaded code tables, the data dictionary and the loaded module.
// The steps of start-up are separate calls so that the windows can show progress and ask again for a
// password; none of them needs Qt.
#pragma once

#include "client/ClientConfig.h"
#include "client/EmbeddedServer.h"
#include "client/HostTables.h"
#include "client/ModuleHost.h"
#include "client/TraceLog.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class CDataDictionary;
class CFixComm;
class COrvoIni;
struct FixCommFailure;

// Busy: every server of the list turned the login away for load for the whole connect time-out.
enum class LoginResult { Ok, Refused, Unreachable, Busy };

class HostSession {
public:
    using Logger = std::function<void(int level, const std::string&)>; // 0 warning, 1 info, 2 debug
    explicit HostSession(Logger log);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Reads the configuration file (a missing one is an empty configuration) and applies the options.
    bool Configure(const std::string& iniPath, const ClientOptions& options, std::string& error);
    bool OpenTrace(const std::string& path, std::string& error);
    // With no server configured: starts the embedded one over databasePath.
    bool StartServerIfEmbedded(const std::string& databasePath, std::string& error);

    // Function 1 with the operator and password (held in memory only). error says what the server or
    // the channel answered.
    LoginResult Login(const std::string& operatorName, const std::string& password, std::string& error);
    // Downloads the code tables; false when the channel failed.
    bool DownloadTables(const std::function<void(const std::string&, int, int)>& progress,
                        std::string& error);
    // Loads the module beside the program (or the configured one) and hands it the host's objects.
    bool OpenModule(const std::string& defaultPath, std::string& error);

    const ClientConfig& Config() const { return m_config; }
    std::string ServerAddress() const; // the server in use: "127.0.0.1:40123"
    std::string ServerList() const;    // every configured server, comma-separated
    CFixComm& Channel() { return *m_channel; }
    ModuleHost& Module() { return m_module; }
    HostTables& Tables() { return m_tables; }
    const HostTables::Outcome& TablesOutcome() const { return m_tablesOutcome; }
    COrvoIni& Ini() { return *m_ini; }
    CDataDictionary& Dictionary() { return *m_dictionary; }
    const std::string& OperatorName() const { return m_operator; }

    // The channel's failure reports, after the session's own logging.
    void SetFailureListener(std::function<void(const FixCommFailure&)> listener);
    // Called, after the log line, each time the channel waits for a busy server.
    void SetBusyListener(std::function<void()> listener);
    // Called when a reply came from another server of the list than the last one did.
    void SetServerListener(std::function<void()> listener);
    // Told once when a request succeeds after a failure was shown.
    void SetRecoveryListener(std::function<void()> listener);

private:
    void noteAnsweringServer();

    Logger m_log;
    ClientConfig m_config;
    std::unique_ptr<COrvoIni> m_ini;
    std::unique_ptr<CFixComm> m_channel;
    std::unique_ptr<CDataDictionary> m_dictionary;
    EmbeddedServer m_server;
    EmbeddedSimulation m_simulation; // --simulate and --seed, for the embedded server only
    HostTables m_tables;
    HostTables::Outcome m_tablesOutcome;
    TraceLog m_trace;
    ModuleHost m_module;
    std::string m_operator;
    std::function<void(const FixCommFailure&)> m_failureListener;
    std::function<void()> m_busyListener;
    std::function<void()> m_serverListener;
    std::string m_answeringServer; // the server of the last successful reply
    // The status of the failure last shown while no request has succeeded since: the same failure again
    // (a live window retrying on its interval) is logged, not shown again.
    std::optional<int> m_outageStatus;
    std::function<void()> m_recoveryListener;
};
