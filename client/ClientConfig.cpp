#include "client/ClientConfig.h"

#include "host/cfg/OrvoIni.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

// Seconds from 1 to 3600 as milliseconds; an empty value keeps the default.
bool readSeconds(const COrvoIni& ini, const char* key, int& milliseconds, std::string& error) {
    const CString text = ini.GetValue("SERVER", key, "");
    if (text.IsEmpty())
        return true;
    long seconds = 0;
    for (const char c : text.view()) {
        if (c < '0' || c > '9' || seconds > 3600) {
            seconds = -1;
            break;
        }
        seconds = seconds * 10 + (c - '0');
    }
    if (seconds < 1 || seconds > 3600) {
        error = std::string("[SERVER] ") + key + " wants seconds from 1 to 3600, got '" + text.ToUtf8() + "'";
        return false;
    }
    milliseconds = static_cast<int>(seconds * 1000);
    return true;
}

// yes/no, true/false, on/off or 1/0 in any case; an empty value keeps `value`.
bool readSwitch(const COrvoIni& ini, const char* key, bool& value, std::string& error) {
    std::string text = ini.GetValue("SERVER", key, "").ToUtf8();
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (text.empty())
        return true;
    if (text == "yes" || text == "true" || text == "on" || text == "1") {
        value = true;
        return true;
    }
    if (text == "no" || text == "false" || text == "off" || text == "0") {
        value = false;
        return true;
    }
    error = std::string("[SERVER] ") + key + " wants yes or no, got '" + text + "'";
    return false;
}

// A relative path in the file names a file beside it, wherever the client was started from; the command
// line's paths stay relative to the working folder, as a shell user expects.
std::string besideIni(const COrvoIni& ini, std::string path) {
    const std::string& iniPath = ini.GetPath();
    const auto slash = iniPath.rfind('/');
    if (path.empty() || path.front() == '/' || slash == std::string::npos)
        return path;
    return iniPath.substr(0, slash + 1) + path;
}

// TLS is on with a CA file (from the command line or the file) or with Tls = yes; the command line's CA
// file wins over Tls = no in the file.
bool readTls(const COrvoIni& ini, const ClientOptions& options, ClientConfig& config, std::string& error) {
    config.tlsCaFile = options.tlsCaFile;
    if (config.tlsCaFile.empty())
        config.tlsCaFile = besideIni(ini, ini.GetValue("SERVER", "TlsCa", "").ToUtf8());
    bool tls = !config.tlsCaFile.empty();
    if (!readSwitch(ini, "Tls", tls, error) ||
        !readSwitch(ini, "AllowPlainPassword", config.allowPlainPassword, error))
        return false;
    if (!options.tlsCaFile.empty())
        tls = true;
    else if (!tls && !config.tlsCaFile.empty()) {
        error = "[SERVER] Tls = no and TlsCa = " + config.tlsCaFile + " contradict each other";
        return false;
    }
    if (tls && !config.tlsCaFile.empty() && access(config.tlsCaFile.c_str(), R_OK) != 0) {
        error = "cannot read the TLS authorities in " + config.tlsCaFile + ": " + std::strerror(errno);
        return false;
    }
    config.tls = tls && !config.embedded;
    return true;
}

} // namespace

bool ResolveClientConfig(const COrvoIni& ini, const ClientOptions& options, ClientConfig& config,
                         std::string& error) {
    std::string address = options.server;
    if (address.empty())
        address = ini.GetValue("SERVER", "Address", "").ToUtf8();
    config.embedded = address.empty();
    if (!config.embedded) {
        std::vector<HostPort> servers;
        std::string bad;
        if (!SplitServerList(address, servers, bad)) {
            error = "server address '" + bad + "' is not HOST:PORT";
            return false;
        }
        config.host = servers.front().host;
        config.port = servers.front().port;
        config.moreServers.assign(servers.begin() + 1, servers.end());
    }

    config.operatorName = options.operatorName;
    if (config.operatorName.empty())
        config.operatorName = ini.GetValue("SERVER", "Operator", "").ToUtf8();
    if (config.operatorName.empty() && config.embedded)
        config.operatorName = kDemoOperator;

    if (!readSeconds(ini, "ConnectTimeout", config.connectTimeoutMs, error) ||
        !readSeconds(ini, "ReplyTimeout", config.replyTimeoutMs, error) ||
        !readTls(ini, options, config, error))
        return false;

    config.modulePath = options.modulePath;
    if (config.modulePath.empty())
        config.modulePath = besideIni(ini, ini.GetValue("CLIENT", "Module", "").ToUtf8());
    return true;
}

const char* ConfigTemplate() {
    return "; orvo-client configuration (UTF-8). Lines starting with ; are comments.\n"
           "\n"
           "[SERVER]\n"
           "; Counter server as HOST:PORT. Without it the demo counter server runs inside the client.\n"
           "; Several servers of one database, comma-separated: the first that answers serves, the next\n"
           "; takes over when it fails.\n"
           ";Address = 127.0.0.1:7001\n"
           "; Operator to log in as; the password is asked for at start-up and never stored.\n"
           ";Operator = admin\n"
           "; Seconds to wait for the connection and for each reply.\n"
           ";ConnectTimeout = 5\n"
           ";ReplyTimeout = 30\n"
           "; TLS to the counter server: the certificate must be signed by an authority in this PEM file\n"
           "; (--tls-ca FILE on the command line) and name the host of Address. A relative path is taken\n"
           "; from this file's folder.\n"
           ";TlsCa = /etc/orvo/ca.pem\n"
           "; yes: TLS trusting the system's authorities; no: plain TCP. Default: TLS when TlsCa is set.\n"
           ";Tls = yes\n"
           "; Without TLS the password is sent only to this machine (a loopback address); yes sends it to\n"
           "; any address in plain text, where anyone on the network path can read it.\n"
           ";AllowPlainPassword = no\n"
           "\n"
           "[SYSTEM]\n"
           "; Prefix that completes a short customer number in the query conditions.\n"
           ";KHHPRE = 0101\n"
           "\n"
           "[EXTORDERQUERY]\n"
           "; Seconds between live refreshes of the query window's current tab; 0 or absent: off.\n"
           ";RefreshSeconds = 30\n"
           "\n"
           "[CLIENT]\n"
           "; The extension module; by default the one installed beside orvo-client.\n"
           ";Module = /usr/lib/orvo/libext_order_query.so\n";
}
