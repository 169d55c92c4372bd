// Host functions: 1 login, 2 table download, 3 heartbeat; and 15016, the operator's permissions.
#include "server/common/LogText.h"
#include "server/functions/Functions.h"
#include "server/functions/LoginGuard.h"
#include "server/functions/SessionTickets.h"

#include "protocol/Header.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvo::server {
namespace {

constexpr std::uint32_t kTagPermittedBranches = 557;
constexpr std::uint32_t kTagPermittedGroups = 556;
constexpr std::size_t kMaxNameBytes = 64;
constexpr std::size_t kMaxPasswordBytes = 256;
constexpr std::size_t kMaxTableNameBytes = 32;
constexpr int kMaxFailedLogins = 5;

// The ticket of a password login just accepted, bound to the hash stored now (the login may have just
// made it again at the login cost). A ticket that cannot be made is left out: the client then logs in
// with its password again, as it would without tickets.
void addTicket(CallContext& ctx, const std::string& name) {
    OperatorRecord record;
    std::string error, ticket;
    const std::int64_t session = ctx.session.serverName ? ctx.session.sessionId : 0;
    if (ctx.session.ticketKeys && ctx.store->findOperator(name, record, error) &&
        issueTicket(*ctx.session.ticketKeys, name, ctx.today, record, session, ticket, error))
        ctx.reply.addEndItem(kTagSessionTicket, std::move(ticket));
}

// A login accepted: its session recorded (before the answer: a session the database does not know could
// not be ended), and a password login's ticket issued. ticketSession: the session a ticket named.
Outcome loggedIn(CallContext& ctx, Operator op, std::int64_t ticketSession, bool byTicket,
                 std::string& error) {
    if (ctx.session.serverName &&
        !ctx.store->openSession(*ctx.session.serverName, op.name, ctx.session.peerAddress, ticketSession,
                                ctx.session.sessionId, error))
        return fail(proto::kStatusInternal, "database error: the session cannot be recorded: " + error);
    const std::string name = op.name;
    ctx.session.op = std::move(op);
    ctx.session.loggedIn = true;
    ctx.session.failedLogins = 0;
    if (byTicket)
        return ok("logged in with a session ticket");
    addTicket(ctx, name);
    return ok("logged in");
}

} // namespace

Outcome handleLogin(CallContext& ctx) {
    // A new login replaces the old one, also when it fails, even for being malformed; the log names what
    // was sent (as bytes, escaped there).
    ctx.session.loggedIn = false;
    const proto::Item* sentName = ctx.request.find(proto::kTagOperator);
    ctx.session.loginName =
        sentName ? std::string(sentName->value.substr(0, kMaxNameBytes + 1)) : std::string("(none)");
    std::string name, password, error;
    bool present = false, havePassword = false;
    if (!readText(ctx.request, proto::kTagOperator, kMaxNameBytes, name, present, error) ||
        !readText(ctx.request, proto::kTagPassword, kMaxPasswordBytes, password, havePassword, error))
        return fail(proto::kStatusBadRequest, error);
    if (name.empty())
        return fail(proto::kStatusBadRequest, "item 553 (operator) is required");
    // A ticket stands in for the password only when no password is given.
    const proto::Item* ticket = havePassword ? nullptr : ctx.request.find(kTagSessionTicket);
    ctx.session.loginName = name;
    auto refuse = [&ctx](std::string text) {
        Outcome refused = fail(proto::kStatusNotPermitted, std::move(text));
        if (++ctx.session.failedLogins >= kMaxFailedLogins) {
            refused.text += "; too many attempts, connection closed";
            refused.closeAfter = true;
        }
        return refused;
    };
    LoginGuard* guard = ctx.session.guard;
    const bool waited = std::exchange(ctx.session.loginWaited, false);
    LoginGuard::Admission admission;
    if (guard) {
        // Checked and counted in one step: simultaneous guesses cannot all pass before one is recorded. A
        // ticket never waits the delay of a name attacked elsewhere: checking it reveals no password.
        admission = guard->admit(name, ctx.session.peerAddress, waited || ticket != nullptr);
        if (admission.refusedFor.count() > 0 && !ticket) {
            // Too many failures for this name from this address: the password is not even looked at.
            const auto seconds = (admission.refusedFor.count() + 999) / 1000;
            return refuse("login refused: too many failed logins for this operator from this address; try "
                          "again in " +
                          std::to_string(seconds) + " s");
        }
        if (admission.waitFirst.count() > 0 && !ticket) {
            ctx.session.loginWaited = true;
            Outcome later;
            later.runAgainAfter = admission.waitFirst;
            return later;
        }
    }
    const bool counted = guard && admission.admitted(); // the attempt stays counted unless settled
    Operator op;
    bool accepted = false;
    std::int64_t ticketSession = 0;
    if (ticket) {
        // No hash, and it tells nothing about a password: a ticket login takes none of the password
        // checks' turns and is checked whatever the guard says. Only a forged or altered ticket counts as
        // a failure; one of ours that no longer holds is told so, and the client uses its password.
        std::string outdated;
        const TicketCheck check = ctx.session.ticketKeys
                                      ? checkTicket(*ctx.store, *ctx.session.ticketKeys, name, ctx.today,
                                                    ticket->value, op, ticketSession, outdated, error)
                                      : TicketCheck::Forged;
        if (check == TicketCheck::OutOfDate) {
            if (counted)
                guard->settle(name, ctx.session.peerAddress, LoginGuard::Result::NotChecked);
            ctx.reply.addFailureItem(kTagTicketOutOfDate, "1");
            return fail(proto::kStatusNotPermitted, "login refused: session ticket out of date (" + outdated +
                                                        "); log in with the password");
        }
        if (check == TicketCheck::Valid) {
            if (counted)
                guard->settle(name, ctx.session.peerAddress, LoginGuard::Result::NotChecked);
            return loggedIn(ctx, std::move(op), ticketSession, true, error);
        }
        if (check == TicketCheck::Forged && !counted && guard)
            return refuse("login refused: too many failed logins for this operator from this address");
    } else {
        std::optional<LoginGuard::HashSlot> slot;
        if (guard)
            slot.emplace(*guard);
        accepted = authenticate(*ctx.store, name, password, op, error);
    }
    if (!accepted) {
        if (!error.empty()) {
            if (guard)
                guard->settle(name, ctx.session.peerAddress, LoginGuard::Result::NotChecked);
            return databaseFailure(error);
        }
        if (guard)
            guard->settle(name, ctx.session.peerAddress, LoginGuard::Result::Rejected);
        return refuse("login refused: unknown operator or wrong password");
    }
    if (guard)
        guard->settle(name, ctx.session.peerAddress, LoginGuard::Result::Accepted);
    return loggedIn(ctx, std::move(op), 0, false, error);
}

Outcome handleHeartbeat(CallContext& ctx) {
    // The answer says whether requests can be served: the database is asked (one indexed lookup).
    OperatorRecord record;
    std::string error;
    if (!ctx.store->findOperator(ctx.session.op.name, record, error) && !error.empty())
        return databaseFailure(error);
    return ok();
}

Outcome handleDownload(CallContext& ctx) {
    // Tag 30 is one of the protocol's own items, so it may stand among the header items.
    const proto::Item* item = ctx.request.find(proto::kTagTable);
    if (!item || item->value.empty())
        return fail(proto::kStatusBadRequest, "item 30 (table name) is required");
    std::string_view table = item->value;
    if (table.size() > kMaxTableNameBytes || !ctx.store->hasCodeTable(table))
        return fail(proto::kStatusBadRequest,
                    "no such table: " + escapeText(table.substr(0, kMaxTableNameBytes), true));
    std::string error;
    return streamOutcome(ctx, ctx.store->streamCodeTable(table, ctx.session.op, ctx.reply, error), error);
}

Outcome handlePermissions(CallContext& ctx) {
    const Operator& op = ctx.session.op;
    ctx.reply.beginRow();
    ctx.reply.add(proto::kTagOperator, op.name);
    ctx.reply.add(kTagPermittedBranches, op.branchesText());
    ctx.reply.add(kTagPermittedGroups, op.groupsText());
    return streamOutcome(ctx, ctx.reply.endRow() ? StreamEnd::Done : StreamEnd::SinkFailed, {});
}

} // namespace orvo::server
