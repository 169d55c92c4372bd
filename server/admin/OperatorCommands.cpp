// operator add | passwd | disable | enable | grant | list
#include "server/admin/Commands.h"
#include "server/admin/OperatorStore.h"
#include "server/admin/Password.h"
#include "server/common/Gbk.h"
#include "server/store/Operator.h"
#include "server/store/StoreSource.h"

#include <cstdio>
#include <memory>

namespace orvo::server::admin {
namespace {

constexpr std::size_t kMaxNameBytes = 64; // what a login request may carry
constexpr std::size_t kMaxCodeBytes = 16;

struct OperatorArgs {
    std::string name, db, branches, groups;
    bool branchesGiven = false, groupsGiven = false;
};

bool validName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes || !utf8FitsGbk(name))
        return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == ',')
            return false;
    return true;
}

// Checks a LIST and gives its stored form: "9999", or the codes joined by commas.
bool normalizeCodes(OperatorStore& store, bool groups, const std::string& list, std::string& stored) {
    const char* what = groups ? "--groups" : "--branches";
    std::vector<std::string> codes = splitCodes(list);
    for (const std::string& code : codes) {
        bool plain = code.size() <= kMaxCodeBytes;
        for (char c : code)
            plain = plain &&
                    ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_');
        if (!plain) {
            std::fprintf(stderr, "orvo-counterd: %s: '%s' is not a code\n", what, code.c_str());
            return false;
        }
        if (code == kAllCode) {
            stored = std::string(kAllCode);
            return true;
        }
    }
    std::vector<std::string> unknown;
    std::string error;
    if (!store.unknownCodes(groups, codes, unknown, error)) {
        std::fprintf(stderr, "orvo-counterd: %s\n", error.c_str());
        return false;
    }
    if (!unknown.empty()) {
        std::fprintf(stderr, "orvo-counterd: %s: unknown %s '%s' (import table %s first)\n", what,
                     groups ? "customer group" : "organisation", unknown.front().c_str(),
                     groups ? "KHQZ" : "YYB");
        return false;
    }
    stored.clear();
    for (const std::string& code : codes)
        stored += (stored.empty() ? "" : ",") + code;
    return true;
}

bool newHash(const std::string& name, std::string& hash) {
    std::string password, error;
    if (!readNewPassword(stdin, name, password, error)) {
        std::fprintf(stderr, "orvo-counterd: %s\n", error.c_str());
        return false;
    }
    if (!hashPassword(password, hash, false)) {
        std::fprintf(stderr, "orvo-counterd: password hashing failed\n");
        return false;
    }
    return true;
}

int finish(bool ok, const std::string& error) {
    if (ok)
        return kExitDone;
    std::fprintf(stderr, "orvo-counterd: %s\n", error.c_str());
    return kExitFailed;
}

// Opens --db, a SQLite file or a PostgreSQL database; prints the reason when it cannot.
std::unique_ptr<OperatorStore> openOperatorStore(const std::string& db) {
    if (!requireExistingDb(db))
        return nullptr;
    std::string error;
    const bool postgres = isPostgresTarget(db);
    auto store = postgres ? openPgOperatorStore(db, error) : openSqliteOperatorStore(db, error);
    if (!store)
        std::fprintf(stderr, "orvo-counterd: %s: %s\n", postgres ? redactedTarget(db).c_str() : db.c_str(),
                     error.c_str());
    return store;
}

// Opens the database and checks the name; the work then runs with both.
int withOperator(const CommandContext& context, OperatorArgs& args,
                 const std::function<int(OperatorStore&)>& work) {
    if (!resolveDb(context, args.db))
        return kExitUsage;
    if (!validName(args.name)) {
        std::fprintf(stderr,
                     "orvo-counterd: operator name must be 1 to %zu bytes of GBK text without control "
                     "characters or commas\n",
                     kMaxNameBytes);
        return kExitUsage;
    }
    const std::unique_ptr<OperatorStore> store = openOperatorStore(args.db);
    if (!store)
        return kExitFailed;
    return work(*store);
}

int addCommand(const CommandContext& context, OperatorArgs& args) {
    return withOperator(context, args, [&](OperatorStore& store) {
        std::string branches, groups, hash, error;
        if (!normalizeCodes(store, false, args.branches, branches) ||
            !normalizeCodes(store, true, args.groups, groups))
            return kExitUsage;
        if (!newHash(args.name, hash))
            return kExitFailed;
        if (!store.add(args.name, hash, branches, groups, error))
            return finish(false, error);
        if (branches.empty() || groups.empty())
            std::fprintf(stderr, "orvo-counterd: note: %s sees no rows until granted branches and groups\n",
                         args.name.c_str());
        return kExitDone;
    });
}

void listCommand(const CommandContext& context, std::string& dbPath, int& code) {
    if (!resolveDb(context, dbPath)) {
        code = kExitUsage;
        return;
    }
    const std::unique_ptr<OperatorStore> store = openOperatorStore(dbPath);
    std::vector<OperatorRow> rows;
    std::string error;
    if (!store) {
        code = kExitFailed;
        return;
    }
    if (!store->list(rows, error)) {
        code = finish(false, error);
        return;
    }
    std::printf("%-20s %-8s %-24s %-24s %s\n", "name", "enabled", "branches", "groups", "last login");
    for (const OperatorRow& row : rows)
        std::printf("%-20s %-8s %-24s %-24s %s\n", row.name.c_str(), row.enabled ? "yes" : "no",
                    row.branches.c_str(), row.groups.c_str(),
                    row.lastLogin.empty() ? "-" : row.lastLogin.c_str());
    code = kExitDone;
}

} // namespace

void addOperatorCommands(CLI::App& app, const CommandContext& context) {
    CLI::App* group = app.add_subcommand("operator", "administer the operators who may log in");
    group->require_subcommand(1);
    auto args = std::make_shared<OperatorArgs>();
    auto named = [&](const char* name, const char* help) {
        CLI::App* command = group->add_subcommand(name, help);
        command->add_option("NAME", args->name, "operator name")->required();
        addDbOption(*command, args->db);
        return command;
    };

    named("add", "add an operator; the password is read from standard input")->callback([context, args] {
        *context.chosen = [context, args] { return addCommand(context, *args); };
    });
    auto* add = group->get_subcommand("add");
    add->add_option("--branches", args->branches, "comma-separated organisation codes, 9999 for all");
    add->add_option("--groups", args->groups, "comma-separated customer groups, 9999 for all");

    named("passwd", "set a new password, read from standard input")->callback([context, args] {
        *context.chosen = [context, args] {
            return withOperator(context, *args, [&](OperatorStore& store) {
                std::string hash, error;
                if (!newHash(args->name, hash))
                    return kExitFailed;
                return finish(store.setPassword(args->name, hash, error), error);
            });
        };
    });
    for (const char* verb : {"disable", "enable"}) {
        const bool enable = verb[0] == 'e';
        named(verb, enable ? "allow the operator to log in again" : "refuse the operator's logins")
            ->callback([context, args, enable] {
                *context.chosen = [context, args, enable] {
                    return withOperator(context, *args, [&](OperatorStore& store) {
                        std::string error;
                        return finish(store.setEnabled(args->name, enable, error), error);
                    });
                };
            });
    }
    CLI::App* grant = named("grant", "set the branches and customer groups the operator may see");
    grant->add_option("--branches", args->branches, "comma-separated organisation codes, 9999 for all")
        ->required();
    grant->add_option("--groups", args->groups, "comma-separated customer groups, 9999 for all")->required();
    grant->callback([context, args] {
        *context.chosen = [context, args] {
            return withOperator(context, *args, [&](OperatorStore& store) {
                std::string branches, groups, error;
                if (!normalizeCodes(store, false, args->branches, branches) ||
                    !normalizeCodes(store, true, args->groups, groups))
                    return kExitUsage;
                return finish(store.setPermissions(args->name, branches, groups, error), error);
            });
        };
    });

    CLI::App* list =
        group->add_subcommand("list", "list the operators (name, enabled, branches, groups, last login)");
    addDbOption(*list, args->db);
    list->callback([context, args] {
        *context.chosen = [context, args] {
            int code = kExitFailed;
            listCommand(context, args->db, code);
            return code;
        };
    });
}

} // namespace orvo::server::admin
