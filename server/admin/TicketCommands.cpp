// tickets rotate [--grace SECONDS] [--ticket-key FILE]
#include "server/admin/Commands.h"
#include "server/functions/TicketKeys.h"

#include <cstdio>
#include <memory>

namespace orvo::server::admin {
namespace {

struct TicketArgs {
    std::string db, keyFile;
    std::int64_t graceSeconds = 600;
};

int rotateKeys(const CommandContext& context, TicketArgs& args) {
    std::string path = args.keyFile;
    if (path.empty() && context.defaultTicketKey)
        path = *context.defaultTicketKey;
    if (path.empty()) {
        if (args.db.empty() && context.defaultDb)
            args.db = *context.defaultDb;
        path = defaultTicketKeyPath(args.db);
    }
    if (path.empty()) {
        std::fprintf(stderr, "orvo-counterd: tickets rotate: no key file; give --ticket-key FILE (or the "
                             "SQLite --db the keys are kept beside)\n");
        return kExitUsage;
    }
    std::string report, error;
    if (!TicketKeys::rotate(path, args.graceSeconds, report, error)) {
        std::fprintf(stderr, "orvo-counterd: tickets rotate: %s\n", error.c_str());
        return kExitFailed;
    }
    // Servers reading this file take the new key within a second; a copy elsewhere must be replaced too.
    std::printf("%s\n", report.c_str());
    return kExitDone;
}

} // namespace

void addTicketCommands(CLI::App& app, const CommandContext& context) {
    auto args = std::make_shared<TicketArgs>();
    CLI::App* tickets = app.add_subcommand("tickets", "session ticket keys");
    tickets->require_subcommand(1);
    CLI::App* rotate = tickets->add_subcommand(
        "rotate", "sign new session tickets with a new key; tickets of the keys before are taken for the "
                  "grace period, then refused (their clients log in with the password again)");
    rotate
        ->add_option("--grace", args->graceSeconds,
                     "seconds the keys before stay taken (default 600; 0: refused at once)")
        ->check(CLI::Range(0, 7 * 24 * 3600));
    rotate->add_option("--ticket-key", args->keyFile,
                       "the key file (default: the serving one, else beside the SQLite --db)");
    addDbOption(*rotate, args->db);
    rotate->callback(
        [context, args] { *context.chosen = [context, args] { return rotateKeys(context, *args); }; });
}

} // namespace orvo::server::admin
