// What the operator subcommands ask of the database. One implementation per kind of --db, each holding
// all of its SQL (bound parameters only) and giving the same messages, so the commands behave alike on
// a SQLite file and on a PostgreSQL database.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server::admin {

struct OperatorRow {
    std::string name;
    bool enabled = true;
    std::string branches, groups, lastLogin;
};

class OperatorStore {
public:
    virtual ~OperatorStore() = default;

    // Each returns false with a reason (an unknown or existing name too).
    virtual bool add(std::string_view name, std::string_view hash, std::string_view branches,
                     std::string_view groups, std::string& error) = 0;
    virtual bool setPassword(std::string_view name, std::string_view hash, std::string& error) = 0;
    virtual bool setEnabled(std::string_view name, bool enabled, std::string& error) = 0;
    virtual bool setPermissions(std::string_view name, std::string_view branches, std::string_view groups,
                                std::string& error) = 0;
    virtual bool list(std::vector<OperatorRow>& rows, std::string& error) = 0;
    // Which of the codes are neither "9999" nor a known organisation (YYB) or customer group (KHQZ).
    virtual bool unknownCodes(bool groups, const std::vector<std::string>& codes,
                              std::vector<std::string>& unknown, std::string& error) = 0;
};

// Opens the database named by --db, a SQLite file or a PostgreSQL target, creating the schema in a
// new or empty one; nullptr with the reason when it cannot (another schema version too).
std::unique_ptr<OperatorStore> openSqliteOperatorStore(const std::string& path, std::string& error);
std::unique_ptr<OperatorStore> openPgOperatorStore(const std::string& conninfo, std::string& error);

// The "no operator named" reason both stores give for a change that found no row.
inline std::string noOperatorNamed(std::string_view name) {
    return "no operator named '" + std::string(name) + "'";
}
inline std::string operatorExists(std::string_view name) {
    return "an operator named '" + std::string(name) + "' exists already";
}

} // namespace orvo::server::admin
