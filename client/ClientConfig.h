// What the client takes from its configuration file and command line together. The file is an INI read
// with COrvoIni; the command line wins over it.
//
//   [SERVER]
//   Address = 127.0.0.1:7001     ; empty or missing: run the demo counter server embedded; several
//                                ; comma-separated: servers of one database, the next used when one fails
//   Operator = admin
//   ConnectTimeout = 5           ; seconds
//   ReplyTimeout = 30            ; seconds
//   TlsCa = /etc/orvo/ca.pem     ; TLS, trusting the authorities in this PEM file
//   Tls = yes                    ; TLS, trusting the system's authorities (no: plain; default: TlsCa given)
//   AllowPlainPassword = no      ; yes: send the password in plain text to a non-loopback address
//   [SYSTEM]
//   KHHPRE = 0101                ; customer-number prefix, read by the module
//   [CLIENT]
//   Module = /path/to/libext_order_query.so
// Relative paths in the file (TlsCa, Module) are taken from the file's own folder.
#pragma once

#include "client/ClientOptions.h"

#include <string>
#include <vector>

class COrvoIni;

struct ClientConfig {
    bool embedded = true; // no server configured: the demo server runs inside the client
    std::string host;     // the first server
    int port = 0;
    std::vector<HostPort> moreServers; // the others of the list, in order
    std::string operatorName;          // UTF-8
    int connectTimeoutMs = 5000;
    int replyTimeoutMs = 30000;
    bool tls = false;      // never for the embedded server, which is on loopback
    std::string tlsCaFile; // empty: the system's authorities
    bool allowPlainPassword = false;
    std::string modulePath;
};

// Reads the settings from the loaded configuration and applies the command line over them. False, with
// the reason, for a value that cannot be used (a bad address or time-out).
bool ResolveClientConfig(const COrvoIni& ini, const ClientOptions& options, ClientConfig& config,
                         std::string& error);

// The text of a fresh configuration file: every setting present, commented out, with its meaning.
const char* ConfigTemplate();

// The demo server's operator, who logs in without a prompt when the server runs embedded.
// The settings key through which the host adds a note to the module window's title (GBK text).
inline constexpr const char* kIniSystemSection = "SYSTEM";
inline constexpr const char* kIniTitleNoteKey = "TITLENOTE";
// The module's own section and its live refresh interval, which --refresh sets.
inline constexpr const char* kIniModuleSection = "EXTORDERQUERY";
inline constexpr const char* kIniRefreshSecondsKey = "RefreshSeconds";

inline constexpr const char* kDemoOperator = "admin";
inline constexpr const char* kDemoPassword = "admin";
