// sessions [--operator NAME] [--ended] | sessions end ID|--operator NAME
#include "server/admin/Commands.h"
#include "server/store/StoreSource.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <pwd.h>
#include <unistd.h>

namespace orvo::server::admin {
namespace {

struct SessionArgs {
    std::string db, operatorName;
    std::int64_t id = 0;
    bool withEnded = false;
};

// Who runs the command, for the record of what it ended: the user behind sudo, else the process's user.
std::string administrator() {
    if (const char* user = std::getenv("SUDO_USER"); user && *user)
        return user;
    if (const passwd* entry = getpwuid(geteuid()))
        return entry->pw_name;
    return "uid " + std::to_string(geteuid());
}

// A store over the database, and the source it came from (a PostgreSQL store borrows its pool).
struct OpenStore {
    std::unique_ptr<StoreSource> source;
    std::unique_ptr<Store> store;
};

// The database's store, once its schema is known to be this program's; prints why not.
OpenStore openStore(const CommandContext& context, SessionArgs& args, int& code) {
    OpenStore opened;
    code = kExitUsage;
    if (!resolveDb(context, args.db))
        return opened;
    code = kExitFailed;
    if (!openForCommand(args.db))
        return opened;
    std::string error;
    opened.source = StoreSource::create(args.db, 1);
    opened.store = opened.source->open(error);
    if (!opened.store)
        printDbError(args.db, error);
    return opened;
}

int listSessions(const CommandContext& context, SessionArgs& args) {
    int code = kExitFailed;
    const OpenStore opened = openStore(context, args, code);
    Store* store = opened.store.get();
    if (!store)
        return code;
    std::vector<SessionRecord> sessions;
    std::string error;
    if (!store->listSessions(args.operatorName, args.withEnded, sessions, error)) {
        printDbError(args.db, error);
        return kExitFailed;
    }
    if (!args.withEnded) {
        std::printf("%-8s %-36s %-20s %-24s %-19s %s\n", "id", "server", "operator", "address", "since",
                    "last request");
        for (const SessionRecord& s : sessions)
            std::printf("%-8lld %-36s %-20s %-24s %-19s %s\n", static_cast<long long>(s.id), s.server.c_str(),
                        s.operatorName.c_str(), s.address.c_str(), s.since.c_str(), s.lastRequest.c_str());
        return kExitDone;
    }
    // Ended ones say when, why and by whom (an administrator's name, else the server that ended it).
    std::printf("%-8s %-36s %-20s %-24s %-19s %-19s %-16s %s\n", "id", "server", "operator", "address",
                "since", "ended", "ended by", "why");
    for (const SessionRecord& s : sessions)
        std::printf("%-8lld %-36s %-20s %-24s %-19s %-19s %-16s %s\n", static_cast<long long>(s.id),
                    s.server.c_str(), s.operatorName.c_str(), s.address.c_str(), s.since.c_str(),
                    s.ended.empty() ? "-" : s.ended.c_str(),
                    s.ended.empty() ? "-" : (s.endedBy.empty() ? "server" : s.endedBy.c_str()),
                    s.endReason.c_str());
    return kExitDone;
}

int endSessions(const CommandContext& context, SessionArgs& args) {
    if ((args.id > 0) == !args.operatorName.empty()) {
        std::fprintf(stderr, "orvo-counterd: sessions end: give a session ID or --operator NAME\n");
        return kExitUsage;
    }
    int code = kExitFailed;
    const OpenStore opened = openStore(context, args, code);
    Store* store = opened.store.get();
    if (!store)
        return code;
    std::size_t ended = 0, revoked = 0;
    std::string error;
    const std::int64_t ids[] = {args.id};
    const std::span<const std::int64_t> chosen =
        args.id > 0 ? std::span<const std::int64_t>(ids) : std::span<const std::int64_t>();
    // The tickets first: a client ended now and coming back at once with its ticket is refused.
    const bool done = store->revokeSessionTickets(chosen, args.operatorName, kSessionEndedByAdministrator,
                                                  administrator(), revoked, error) &&
                      (args.id > 0 ? store->endSessions(ids, kSessionEndedByAdministrator, ended, error)
                                   : store->endOperatorSessions(args.operatorName,
                                                                kSessionEndedByAdministrator, ended, error));
    if (!done) {
        printDbError(args.db, error);
        return kExitFailed;
    }
    if (args.id > 0 && ended == 0) {
        std::fprintf(stderr, "orvo-counterd: no live session %lld\n", static_cast<long long>(args.id));
        return kExitFailed;
    }
    // The server holding a session closes it at its next look, within about a second.
    std::printf("ended %zu session%s\n", ended, ended == 1 ? "" : "s");
    return kExitDone;
}

} // namespace

void addSessionCommands(CLI::App& app, const CommandContext& context) {
    auto args = std::make_shared<SessionArgs>();
    CLI::App* sessions = app.add_subcommand(
        "sessions", "list the live sessions of every server on the database (server, operator, address, "
                    "since, last request)");
    sessions->add_option("--operator", args->operatorName, "only this operator's sessions");
    sessions->add_flag("--ended", args->withEnded,
                       "the ended ones too (a week's), with when, why and by whom each ended");
    addDbOption(*sessions, args->db);

    CLI::App* end = sessions->add_subcommand(
        "end", "end a session, or every session of an operator, on whichever server holds it");
    end->add_option("ID", args->id, "the session's id, as listed")->check(CLI::PositiveNumber);
    end->add_option("--operator", args->operatorName, "every session of this operator");
    addDbOption(*end, args->db);
    end->callback(
        [context, args] { *context.chosen = [context, args] { return endSessions(context, *args); }; });

    sessions->callback([context, args, end] {
        if (!end->parsed())
            *context.chosen = [context, args] { return listSessions(context, *args); };
    });
}

} // namespace orvo::server::admin
