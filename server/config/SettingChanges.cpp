#include "server/config/SettingChanges.h"

namespace orvo::server::config {
namespace {

void compare(std::vector<std::string>& out, const char* name, const std::string& a, const std::string& b) {
    if (a != b)
        out.push_back(std::string(name) + " '" + a + "' -> '" + b + "'");
}

void compare(std::vector<std::string>& out, const char* name, int a, int b) {
    if (a != b)
        out.push_back(std::string(name) + " " + std::to_string(a) + " -> " + std::to_string(b));
}

void restartOnly(std::vector<std::string>& out, const char* name, bool changed) {
    if (changed)
        out.emplace_back(name);
}

} // namespace

SettingChanges compareSettings(const Settings& running, const Settings& fresh) {
    SettingChanges changes;
    auto& applied = changes.applied;
    const ServerOptions& a = running.options;
    const ServerOptions& b = fresh.options;
    compare(applied, "log-level", running.logLevel, fresh.logLevel);
    compare(applied, "max-connections", a.maxConnections, b.maxConnections);
    compare(applied, "max-pending-logins", a.maxPendingLogins, b.maxPendingLogins);
    compare(applied, "max-pending-logins-per-address", a.maxPendingLoginsPerAddress,
            b.maxPendingLoginsPerAddress);
    compare(applied, "login-timeout", a.loginTimeoutMs / 1000, b.loginTimeoutMs / 1000);
    compare(applied, "idle-timeout", a.idleTimeoutMs / 1000, b.idleTimeoutMs / 1000);
    compare(applied, "read-timeout", a.readTimeoutMs / 1000, b.readTimeoutMs / 1000);
    compare(applied, "write-timeout", a.writeTimeoutMs / 1000, b.writeTimeoutMs / 1000);
    compare(applied, "tls-cert", a.tlsCertFile, b.tlsCertFile);
    compare(applied, "tls-key", a.tlsKeyFile, b.tlsKeyFile);

    auto& later = changes.needRestart;
    restartOnly(later, "listen", running.listen != fresh.listen);
    restartOnly(later, "db", running.dbPath != fresh.dbPath);
    restartOnly(later, "ticket-key", a.ticketKeyFile != b.ticketKeyFile);
    restartOnly(later, "login-address-failures",
                a.loginGuard.addressFailuresAllowed != b.loginGuard.addressFailuresAllowed);
    restartOnly(later, "db-password-file", running.dbPasswordFile != fresh.dbPasswordFile);
    restartOnly(later, "db-pool", running.dbPool != fresh.dbPool);
    restartOnly(later, "row-cache-mb", running.rowCacheMb != fresh.rowCacheMb);
    restartOnly(later, "row-cache-warmup", a.warmRowCache != b.warmRowCache);
    restartOnly(later, "workers", a.workers != b.workers);
    restartOnly(later, "date", running.date != fresh.date);
    restartOnly(later, "read-only", running.readOnly != fresh.readOnly);
    restartOnly(later, "demo", running.demo != fresh.demo || running.size != fresh.size);
    restartOnly(later, "metrics-listen", running.metricsListen != fresh.metricsListen);
    restartOnly(later, "log-format", running.logFormat != fresh.logFormat);
    restartOnly(later, "reply-timeout", a.replyTimeoutMs != b.replyTimeoutMs);
    restartOnly(later, "reply-min-rate", a.replyMinRate != b.replyMinRate);
    restartOnly(later, "reply-buffer-mb", a.replyBufferMb != b.replyBufferMb);
    restartOnly(later, "db-statement-timeout-ms", a.dbStatementTimeoutMs != b.dbStatementTimeoutMs);
    restartOnly(later, "db-lock-timeout-ms", a.dbLockTimeoutMs != b.dbLockTimeoutMs);
    restartOnly(later, "simulate",
                running.simulateRate != fresh.simulateRate || running.simulateSeed != fresh.simulateSeed);
    return changes;
}

} // namespace orvo::server::config
