// Changes since a revision: 16500 a rule kind's rows written or gone since the revision a client last
// received, 16501 a rule's orders when any changed. A revision is the database's state token (which
// incarnation, which position in its commit order), bound to what it was asked for (operator
// permissions, conditions, business date): a request that differs in any of these, or a token of
// another incarnation, is told to run the full query instead, so a list is never patched against rows
// it did not hold.
#include "server/functions/ChangeReplyMemo.h"
#include "server/functions/ConditionItems.h"
#include "server/functions/Functions.h"
#include "server/store/Store.h"

#include "protocol/Header.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::server {
namespace {

constexpr std::uint32_t kTagFromRevision = 9101;
constexpr std::uint32_t kTagNextRevision = 9102;
constexpr std::uint32_t kTagRunFullQuery = 9104;
constexpr std::uint32_t kTagReplacesList = 9105;
constexpr std::uint32_t kTagOrderFunction = 9106;
constexpr std::size_t kMaxRevisionBytes = 64;

// Past this many changed rules of a kind, the full query is the cheaper answer (and the changes need
// not be held to be sorted).
constexpr std::int64_t kMaxChangedRules = 10000;
// Past this many, the answer is sent by a heavy worker: the light ones stay free for heartbeats and one
// customer's queries, however far behind a client asks from. A shared answer is sent by a light worker
// up to about as many bytes.
constexpr std::int64_t kMaxLightChangedRules = 500;
constexpr std::size_t kMaxLightAnswerBytes = 64 * 1024;

// Nothing sent: the request runs again on a heavy worker.
Outcome onHeavyLane() {
    Outcome later;
    later.heavyLane = true;
    return later;
}

// What a revision and an answer are bound to besides the database, part by part: every request item but
// the protocol's header and the revision itself, in order; the operator's permissions; and the business
// date when the answer depends on it.
template <typename Add> void identityParts(const CallContext& ctx, bool withDate, Add add) {
    add(std::to_string(ctx.request.function));
    for (const proto::Item& item : ctx.request.items) {
        if (item.tag < 100 || item.tag == kTagFromRevision)
            continue;
        add(std::to_string(item.tag));
        add(item.value);
    }
    const Operator& op = ctx.session.op;
    add(op.allBranches ? "*" : op.branchesText());
    add(op.allGroups ? "*" : op.groupsText());
    if (withDate)
        add(ctx.today);
}

// FNV-1a over the parts.
class Fingerprint {
public:
    void add(std::string_view bytes) {
        for (const char c : bytes) {
            m_hash ^= static_cast<unsigned char>(c);
            m_hash *= 0x100000001b3ull;
        }
        m_hash ^= 0xff; // a separator no text byte sequence can imitate by concatenation alone
        m_hash *= 0x100000001b3ull;
    }
    static std::uint64_t of(const CallContext& ctx, bool withDate) {
        Fingerprint f;
        identityParts(ctx, withDate, [&f](std::string_view part) { f.add(part); });
        return f.m_hash;
    }

private:
    std::uint64_t m_hash = 0xcbf29ce484222325ull;
};

// A question for the shared answers: the parts (with the date) and the position asked from, exactly,
// each behind its length.
std::string questionOf(const CallContext& ctx, std::int64_t from) {
    std::string question;
    const auto add = [&question](std::string_view part) {
        question.append(std::to_string(part.size())).append(":").append(part);
    };
    identityParts(ctx, true, add);
    add(std::to_string(from));
    return question;
}

// "IDENTITY-POSITION-FINGERPRINT": opaque to the client, at most 16 + 1 + 19 + 1 + 16 bytes.
std::string revisionText(const StateToken& at, std::uint64_t fingerprint) {
    char hex[17];
    const auto [end, ec] = std::to_chars(hex, hex + 16, fingerprint, 16);
    (void)ec;
    return identityText(at.identity) + "-" + std::to_string(at.position) + "-" + std::string(hex, end);
}

// The state a text names, when this server would have handed it out for the same fingerprint; a token
// of identity 0 for none.
StateToken tokenOf(std::string_view text, std::uint64_t fingerprint) {
    const std::size_t first = text.find('-');
    const std::size_t second = first == std::string_view::npos ? first : text.find('-', first + 1);
    if (second == std::string_view::npos)
        return {};
    const auto number = [](std::string_view digits, auto& value, int base) {
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
        return !digits.empty() && ec == std::errc() && end == digits.data() + digits.size();
    };
    StateToken token;
    std::uint64_t hash = 0;
    if (!number(text.substr(0, first), token.identity, 16) ||
        !number(text.substr(first + 1, second - first - 1), token.position, 10) ||
        !number(text.substr(second + 1), hash, 16) || token.position <= 0 || hash != fingerprint)
        return {};
    return token;
}

// How a request's revision stands against the database.
enum class Standing { RunFull, NothingChanged, Look };

Standing standingOf(const StateToken& from, const ChangeState& state, bool namesMatter) {
    // Another database or incarnation; a position past the database's own (a database put back to an
    // older state); one from before the tombstones kept, which could miss rows that left.
    if (from.identity == 0 || from.identity != state.token.identity || from.position > state.token.position ||
        from.position < state.keptFrom || state.scope >= from.position ||
        (namesMatter && state.names >= from.position))
        return Standing::RunFull;
    if (from == state.token)
        return Standing::NothingChanged;
    return Standing::Look;
}

Outcome runFullQuery(CallContext& ctx, const ChangeState& state, std::uint64_t fingerprint) {
    ctx.reply.addEndItem(kTagRunFullQuery, "1");
    ctx.reply.addEndItem(kTagNextRevision, revisionText(state.token, fingerprint));
    return ok();
}

bool readRevision(const Request& request, std::string& text, std::string& error) {
    bool present = false;
    return readText(request, kTagFromRevision, kMaxRevisionBytes, text, present, error);
}

} // namespace

Outcome handleRuleChanges(CallContext& ctx) {
    std::string error, revision;
    long long category = 0;
    bool present = false;
    std::span<const ReplyColumn> columns;
    if (!readInteger(ctx.request, kTagCategory, category, present, error))
        return fail(proto::kStatusBadRequest, error);
    if (!present || !ruleColumnsOf(static_cast<int>(category), columns))
        return fail(proto::kStatusBadRequest, "item 1842 must be a rule category (2, 3, 4, 5, 6 or 7)");
    Conditions cond;
    if (!parseConditions(ctx.request, cond, error) || !readRevision(ctx.request, revision, error))
        return fail(proto::kStatusBadRequest, error);

    const std::uint64_t fingerprint = Fingerprint::of(ctx, true);
    ChangeState state;
    if (!ctx.store->readChangeState(state, error))
        return fail(proto::kStatusInternal, "database error: " + error);
    const StateToken from = tokenOf(revision, fingerprint);
    switch (standingOf(from, state, true)) {
    case Standing::RunFull:
        return runFullQuery(ctx, state, fingerprint);
    case Standing::NothingChanged:
        ctx.reply.addEndItem(kTagNextRevision, revisionText(from, fingerprint));
        return ok();
    case Standing::Look:
        break;
    }
    // Another client with the same list and revision may have asked since the database last changed.
    ChangeReplyMemo* const memo = ctx.session.changeMemo;
    std::string question;
    if (memo) {
        question = questionOf(ctx, from.position);
        if (const ChangeReplyMemo::Rows rows = memo->find(question, state.token)) {
            if (ctx.request.lightLane && rows->size() > kMaxLightAnswerBytes)
                return onHeavyLane();
            const bool sent = ctx.reply.addRecordedRows(*rows);
            ctx.reply.addEndItem(kTagNextRevision, revisionText(state.token, fingerprint));
            return streamOutcome(ctx, sent ? StreamEnd::Done : StreamEnd::SinkFailed, error);
        }
    }
    // On a light worker only as far as a light answer goes, so that even the count stays short.
    const std::int64_t countUpTo = ctx.request.lightLane ? kMaxLightChangedRules : kMaxChangedRules;
    std::int64_t changed = 0;
    if (!ctx.store->countRuleChanges(static_cast<int>(category), from.position, countUpTo, changed, error))
        return fail(proto::kStatusInternal, "database error: " + error);
    if (changed > countUpTo)
        return ctx.request.lightLane ? onHeavyLane() : runFullQuery(ctx, state, fingerprint);

    RuleQuery query;
    query.category = static_cast<int>(category);
    query.op = &ctx.session.op;
    query.cond = &cond;
    query.today = ctx.today;
    query.contractOnEitherLeg = category == kCategoryArbitrage;
    query.changedFrom = from.position;
    auto recorded = memo ? std::make_shared<std::string>() : nullptr;
    ctx.reply.recordRows(recorded.get());
    StreamEnd end = ctx.store->streamRules(query, columns, ctx.reply, error);
    if (end == StreamEnd::Done)
        end = ctx.store->streamLeftRules(query, ctx.reply, error);
    ctx.reply.recordRows(nullptr);
    if (memo && end == StreamEnd::Done && !ctx.reply.failed() && ctx.reply.refusedRows() == 0)
        memo->keep(question, state.token, std::move(recorded));
    ctx.reply.addEndItem(kTagNextRevision, revisionText(state.token, fingerprint));
    return streamOutcome(ctx, end, error);
}

Outcome handleOrderChanges(CallContext& ctx) {
    std::string error, revision;
    long long function = kFunctionCurrentOrders;
    bool present = false;
    if (!readInteger(ctx.request, kTagOrderFunction, function, present, error))
        return fail(proto::kStatusBadRequest, error);
    if (!present)
        function = kFunctionCurrentOrders;
    if (function != kFunctionCurrentOrders && function != kFunctionHistoryOrders)
        return fail(proto::kStatusBadRequest, "item 9106 must be 16151 or 16171");
    if (!readRevision(ctx.request, revision, error))
        return fail(proto::kStatusBadRequest, error);
    // The order function's own request, read from the same items: "changed" is asked of exactly the
    // orders its full reply would list, under the same permissions.
    Request inner = ctx.request;
    inner.function = static_cast<std::uint32_t>(function);
    CallContext innerCtx{StoreRef(*ctx.store), ctx.session, inner, ctx.reply, ctx.today};
    OrderRequest order;
    Outcome failure;
    if (!readOrderRequest(innerCtx, order, failure))
        return failure;

    const std::uint64_t fingerprint = Fingerprint::of(ctx, false);
    ChangeState state;
    if (!ctx.store->readChangeState(state, error))
        return fail(proto::kStatusInternal, "database error: " + error);
    const StateToken from = tokenOf(revision, fingerprint);
    const Standing standing = standingOf(from, state, false);
    bool changed = standing == Standing::RunFull;
    if (standing == Standing::Look &&
        !ctx.store->ordersChangedSince(order.query, from.position, changed, error))
        return fail(proto::kStatusInternal, "database error: " + error);
    if (!changed) {
        ctx.reply.addEndItem(kTagNextRevision,
                             revisionText(standing == Standing::Look ? state.token : from, fingerprint));
        return ok();
    }
    const Outcome outcome = handleOrders(innerCtx);
    if (outcome.status == proto::kStatusOk) {
        ctx.reply.addEndItem(kTagReplacesList, "1");
        ctx.reply.addEndItem(kTagNextRevision, revisionText(state.token, fingerprint));
    }
    return outcome;
}

} // namespace orvo::server
