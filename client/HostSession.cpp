#include "client/HostSession.h"

#include "client/TraceLog.h"
#include "host/cfg/OrvoIni.h"
#include "host/com/FixComm.h"
#include "host/stock/DataDictionary.h"
#include "platform/CString.h"

#include <string_view>

namespace {

constexpr int kTransportFailure = -1;
constexpr long kLoginFunction = 1;
constexpr int kStatusNotPermitted = 3;
constexpr int kStatusBusy = 5;
// What the channel reports when the caller's wait callback gave up a reply: in this client only the query
// window does that, when the user presses Escape. The module says so itself; it is no failure to show.
constexpr const char* kCancelledByCallerText = "the request was cancelled";
// The live window's changes requests. A server older than them answers "unknown function" (status 4),
// and the window falls back to the full query on its own: an expected answer, not a failure to show.
constexpr long kRuleChangesFunction = 16500;
constexpr long kOrderChangesFunction = 16501;
constexpr int kStatusUnknownFunction = 4;

// How the channel begins a failure over a list of servers, each named with its reason.
constexpr std::string_view kNoServerAnswers = "no counter server of the list answers: ";

bool isChangesFallback(const FixCommFailure& failure) {
    return failure.status == kStatusUnknownFunction &&
           (failure.function == kRuleChangesFunction || failure.function == kOrderChangesFunction);
}

} // namespace

HostSession::HostSession(Logger log)
    : m_log(std::move(log)), m_ini(std::make_unique<COrvoIni>()), m_channel(std::make_unique<CFixComm>()),
      m_dictionary(std::make_unique<CDataDictionary>()),
      m_server([this](const std::string& line) { m_log(2, line); }),
      m_module([this](const std::string& line) { m_log(0, line); }) {
    m_channel->SetFailureCallback([this](const FixCommFailure& failure) {
        if (failure.status == kTransportFailure && failure.text == kCancelledByCallerText) {
            m_log(1, "request " + std::to_string(failure.function) + " cancelled by the user");
            return;
        }
        if (isChangesFallback(failure)) {
            m_log(1, "the server does not answer function " + std::to_string(failure.function) +
                         " (changes since a revision); the live refresh runs the full query");
            return;
        }
        m_log(0, "request " + std::to_string(failure.function) + " failed (status " +
                     std::to_string(failure.status) + "): " + failure.text.ToUtf8());
        // One notice per outage: while nothing has succeeded since a failure was shown, the same kind of
        // failure (each try of a window that retries on its interval) goes to the log only.
        if (m_outageStatus == failure.status)
            return;
        m_outageStatus = failure.status;
        if (m_failureListener)
            m_failureListener(failure);
    });
    m_channel->SetBusyCallback([this](const FixCommBusy& busy) {
        m_log(0, "server busy, retrying: " + busy.server + " answered '" + busy.text.ToUtf8() +
                     "'; attempt " + std::to_string(busy.attempt + 1) + " in " + std::to_string(busy.waitMs) +
                     " ms");
        if (m_busyListener)
            m_busyListener();
    });
    m_channel->SetServerChangeCallback(
        [this](const std::string& from, const std::string& to, const std::string& why) {
            m_log(0, "counter server " + from + " failed (" + CString(why).ToUtf8() + "); trying " + to);
        });
    m_channel->SetTraceCallback([this](const FixCommTraceEvent& event) {
        m_trace.Write(event);
        m_log(2, TraceLine(event));
        if (event.kind != FixCommTraceEvent::Reply || event.status != 0)
            return;
        if (!m_config.moreServers.empty())
            noteAnsweringServer();
        // A login alone ends no outage: a session the server ends at once would otherwise be told anew on
        // every try.
        if (m_outageStatus && event.function != kLoginFunction) {
            m_outageStatus.reset();
            m_log(0, "the counter server " + m_channel->ServerInUse() + " answers again");
            if (m_recoveryListener)
                m_recoveryListener();
        }
    });
}

HostSession::~HostSession() {
    m_module.Close(); // before the objects it was handed go
    m_channel->SetFailureCallback({});
    m_channel->SetBusyCallback({});
    m_channel->SetServerChangeCallback({});
    m_channel->SetTraceCallback({});
    m_channel->Disconnect();
    m_server.Stop();
}

bool HostSession::Configure(const std::string& iniPath, const ClientOptions& options, std::string& error) {
    m_ini->Load(iniPath); // a missing file is an empty configuration
    if (!ResolveClientConfig(*m_ini, options, m_config, error))
        return false;
    // The module reads its refresh interval from the settings; the command line's goes there, in memory.
    if (options.refreshSeconds >= 0)
        m_ini->SetValue(kIniModuleSection, kIniRefreshSecondsKey,
                        std::to_string(options.refreshSeconds).c_str());
    m_simulation = {options.simulateRate, options.simulateSeed};
    if (m_simulation.rate > 0 && !m_config.embedded)
        m_log(0, "--simulate plays on the embedded demo server only; the configured server is left as it is");
    return true;
}

bool HostSession::OpenTrace(const std::string& path, std::string& error) {
    return m_trace.Open(path, error);
}

bool HostSession::StartServerIfEmbedded(const std::string& databasePath, std::string& error) {
    if (!m_config.embedded)
        return true;
    if (!m_server.Start(databasePath, error, m_simulation))
        return false;
    m_config.host = "127.0.0.1";
    m_config.port = m_server.Port();
    // The module reads its window title's note from the settings, so the demo is unmistakable there too.
    m_ini->SetValue(kIniSystemSection, kIniTitleNoteKey, GBK("(演示数据)"));
    m_log(1, "demo counter server running embedded on " + ServerAddress() + " over " + databasePath);
    if (!m_config.tlsCaFile.empty())
        m_log(1,
              "the embedded server is plain TCP on loopback: the TLS settings apply to a configured server");
    return true;
}

std::string HostSession::ServerAddress() const {
    if (m_config.moreServers.empty())
        return m_config.host + ":" + std::to_string(m_config.port);
    return m_channel->ServerInUse();
}

std::string HostSession::ServerList() const {
    std::string list = m_config.host + ":" + std::to_string(m_config.port);
    for (const HostPort& server : m_config.moreServers)
        list += "," + server.host + ":" + std::to_string(server.port);
    return list;
}

LoginResult HostSession::Login(const std::string& operatorName, const std::string& password,
                               std::string& error) {
    FixCommSettings settings;
    settings.host = m_config.host;
    settings.port = m_config.port;
    settings.operatorName = CString::FromUtf8(operatorName);
    settings.password = CString::FromUtf8(password);
    settings.connectTimeoutMs = m_config.connectTimeoutMs;
    settings.replyTimeoutMs = m_config.replyTimeoutMs;
    settings.tls = m_config.tls;
    settings.tlsCaFile = m_config.tlsCaFile;
    settings.allowPlainPassword = m_config.allowPlainPassword;
    for (const HostPort& server : m_config.moreServers)
        settings.moreServers.push_back(FixCommServer{server.host, server.port});
    m_channel->Disconnect();
    m_channel->Configure(std::move(settings));
    m_operator = operatorName;
    if (m_channel->Login()) {
        m_log(1,
              "logged in to " + ServerAddress() + " as " + operatorName + (m_config.tls ? " over TLS" : ""));
        return LoginResult::Ok;
    }
    const FixCommFailure& failure = m_channel->LastFailure();
    if (failure.status == kFixCommPlainPassword) {
        error = failure.text.ToUtf8() +
                ": give the authority that signed its certificate with --tls-ca FILE or TlsCa = FILE under "
                "[SERVER] in the configuration (Tls = yes trusts the system's authorities), or accept plain "
                "text there with AllowPlainPassword = yes";
        return LoginResult::Unreachable;
    }
    // A busy server answered, and kept answering so for the whole connect time-out: it is reachable.
    if (failure.status == kStatusBusy) {
        error = "the counter server at " + ServerAddress() + " is busy: " + failure.text.ToUtf8() +
                "; try again in a moment";
        return LoginResult::Busy;
    }
    // A server that turns the connection away (database unavailable) answers with a status too, and
    // closes: that is no verdict on the login.
    if (failure.status == kTransportFailure || !m_channel->IsConnected()) {
        // Said once: the channel's text names the server (or each server of the list) already.
        const std::string reason = failure.text.ToUtf8();
        const std::string connect = "cannot connect to the counter server " + ServerAddress() + ": ";
        if (reason.starts_with(kNoServerAnswers))
            error = reason;
        else
            error = "cannot reach the counter server at " + ServerAddress() + ": " +
                    (reason.starts_with(connect) ? reason.substr(connect.size()) : reason);
        return LoginResult::Unreachable;
    }
    // The server says "login refused: <why>"; the refusal is said once.
    std::string reason = failure.text.ToUtf8();
    if (constexpr std::string_view kRefused = "login refused: "; reason.starts_with(kRefused))
        reason.erase(0, kRefused.size());
    error = "login as " + operatorName + " refused: " + reason;
    if (failure.status != kStatusNotPermitted)
        error += " (status " + std::to_string(failure.status) + ")";
    return LoginResult::Refused;
}

bool HostSession::DownloadTables(const std::function<void(const std::string&, int, int)>& progress,
                                 std::string& error) {
    m_tablesOutcome = m_tables.Download(*m_channel, *m_dictionary, progress);
    for (const std::string& name : m_tablesOutcome.loaded)
        m_log(1, "table " + name + ": " + std::to_string(m_tables.RowCount(name)) + " rows");
    for (const std::string& name : m_tablesOutcome.missing)
        m_log(0, "table " + name + " is not on the server; the module will see no table " + name);
    if (!m_tablesOutcome.ok)
        error = m_tablesOutcome.error;
    return m_tablesOutcome.ok;
}

bool HostSession::OpenModule(const std::string& defaultPath, std::string& error) {
    const std::string path = m_config.modulePath.empty() ? defaultPath : m_config.modulePath;
    HostObjects objects;
    objects.fixComm = m_channel.get();
    objects.ini = m_ini.get();
    objects.tableMap = &m_tables.ModuleMap();
    objects.dictionary = m_dictionary.get();
    if (!m_module.Open(path, objects, error)) {
        error = "cannot load the module: " + error;
        return false;
    }
    const ModuleIdentity& id = m_module.Identity();
    std::string functions;
    for (const long f : id.functions)
        functions.append(functions.empty() ? "" : ",").append(std::to_string(f));
    m_log(1, "module " + path + ": " + id.name + " " + id.version + " (" + id.category + ", " + id.buildDate +
                 "), functions " + functions);
    return true;
}

void HostSession::noteAnsweringServer() {
    std::string server = m_channel->ServerInUse();
    if (server == m_answeringServer)
        return;
    if (!m_answeringServer.empty())
        m_log(0, "counter server " + server + " now serves in place of " + m_answeringServer);
    m_answeringServer = std::move(server);
    if (m_serverListener)
        m_serverListener();
}

void HostSession::SetServerListener(std::function<void()> listener) {
    m_serverListener = std::move(listener);
}

void HostSession::SetRecoveryListener(std::function<void()> listener) {
    m_recoveryListener = std::move(listener);
}

void HostSession::SetBusyListener(std::function<void()> listener) {
    m_busyListener = std::move(listener);
}

void HostSession::SetFailureListener(std::function<void(const FixCommFailure&)> listener) {
    m_failureListener = std::move(listener);
}
