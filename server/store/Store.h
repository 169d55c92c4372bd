// What the counter's functions read from the data, independent of the database behind it. Each query
// streams its rows straight into the reply as they are read, so no result is ever held whole; the
// functions say which record fields go under which reply tags, the back-end says how they are found.
#pragma once

#include "server/store/Conditions.h"
#include "server/store/Operator.h"
#include "server/store/ReplyWriter.h"
#include "server/store/StateToken.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvo::server {

// How a stream of rows ended: every row sent, the database failed (error says why), or the reply's
// sink failed (the peer is gone). Rows already sent stay sent.
enum class StreamEnd { Done, DatabaseError, SinkFailed };

// One reply item: its tag and the record field it carries, by the field's name in the data model.
struct ReplyColumn {
    std::uint32_t tag;
    std::string_view field;
};

// The rule field that carries the customer's name (from the customers, by the rule's account).
inline constexpr std::string_view kFieldCustomerName = "customer_name";

struct RuleQuery {
    int category = 0;
    const Operator* op = nullptr;
    const Conditions* cond = nullptr;
    std::string_view today;           // "YYYY.MM.DD": the validity conditions compare with it
    bool contractOnEitherLeg = false; // the contract condition also matches the second leg
    std::int64_t changedFrom = 0;     // > 0: only rules committed at this position or later
};

// Where the database stands for "changes since a revision" (see docs/data.md). Rules, orders, tombstones,
// names and scope all carry positions of one commit order, so they compare with each other.
struct ChangeState {
    // The database's incarnation, and the position to ask from next time: every commit not visible now
    // takes one at least this large.
    StateToken token;
    std::int64_t names = 0; // the last change of a customer's number or name, or a customer's deletion
    std::int64_t scope = 0; // the last change of a customer's branch, office or group (or a table emptied)
    // Tombstones of positions below this one may have been pruned: a client asking from before it runs
    // the full query.
    std::int64_t keptFrom = 0;
};

struct OrderQuery {
    const Operator* op = nullptr;
    std::string_view customer;
    std::int64_t ruleSerial = 0;
    bool history = false;
    bool haveCategory = false;
    std::int64_t category = 0;
    std::string_view beginDate, endDate; // on the order date; empty: open-ended
};

// An operator's stored record, as a login checks it.
struct OperatorRecord {
    std::string passwordHash;
    std::string branches, groups; // the stored permission texts
    bool enabled = false;
    // Counted up by the database on every disable, enable and password change: tickets carry it.
    std::int64_t ticketEpoch = 0;
};

// A session as the database records it; ended, endReason and endedBy empty while it is live.
struct SessionRecord {
    std::int64_t id = 0;
    std::string server, operatorName, address, since, lastRequest;
    std::string ended, endReason, endedBy;
};

// The session a ticket names, as a ticket login checks it.
struct TicketSession {
    bool found = false;
    std::string operatorName;
    std::string revoked; // why its tickets are refused; empty: they hold
};

// What the server holding a session watches of it.
struct SessionState {
    std::int64_t id = 0;
    std::int64_t operatorChanges = 0; // counted up by the database on every change of the operator
    bool ended = false;
    std::string endReason; // set when ended
};

// Why a session ended, as recorded; the first four are also what its client is told (status 2).
inline constexpr std::string_view kSessionEndedByAdministrator = "session ended by an administrator";
inline constexpr std::string_view kSessionEndedDisabled = "session ended: operator disabled";
inline constexpr std::string_view kSessionEndedRemoved = "session ended: operator removed";
inline constexpr std::string_view kSessionEndedPassword = "session ended: password changed";
inline constexpr std::string_view kSessionClosed = "closed";
inline constexpr std::string_view kSessionLoggedOut = "logged out";
inline constexpr std::string_view kSessionServerStopped = "server stopped";
inline constexpr std::string_view kSessionServerLost = "server lost: not heard of for 2 minutes";

// The time of a session's last request, to note in the database.
struct SessionTouch {
    std::int64_t id = 0;
    std::string lastRequest;
};

class Store {
public:
    virtual ~Store() = default;

    // The operator's record; false with error empty when there is no such operator, false with error
    // set on a database error.
    virtual bool findOperator(std::string_view name, OperatorRecord& record, std::string& error) = 0;
    // A hash with the work limits most stored operators use, to spend a login's effort on unknown names.
    virtual std::string dummyPasswordHash() = 0;
    // Notes a successful login; a failure to note it is ignored.
    virtual void recordLogin(std::string_view name) = 0;
    // Stores a new hash of the operator's password in place of oldHash, unless the password has been
    // changed meanwhile (the stored hash is no longer oldHash). A failure is ignored: the old hash works.
    virtual void replacePasswordHash(std::string_view name, std::string_view oldHash,
                                     std::string_view newHash) = 0;

    // Sessions: the logins the servers hold, recorded in the database so that an administrator can list
    // and end them whichever server holds them, and a change of an operator reaches its sessions (the
    // server is a process's name, unique among the servers sharing the database). Each gives false with
    // error set on a database error.
    // Records a live session of that server; id is its number. ticketSession: the session whose ticket
    // the login presented (0 for a password login, whose ticket names the session itself).
    virtual bool openSession(std::string_view server, std::string_view operatorName, std::string_view address,
                             std::int64_t ticketSession, std::int64_t& id, std::string& error) = 0;
    // The server's sessions numbered fromId or higher that are live or ended at endedSince or later
    // ("YYYY.MM.DD HH:MM:SS"), by number: read by index, whatever the number of sessions ended before.
    virtual bool sessionStates(std::string_view server, std::int64_t fromId, std::string_view endedSince,
                               std::vector<SessionState>& states, std::string& error) = 0;
    // The session a presented ticket names.
    virtual bool ticketSession(std::int64_t id, TicketSession& session, std::string& error) = 0;
    // From now on refuses the tickets that the sessions (or, with ids empty, every session of the
    // operator) were issued or logged in with, giving the reason and who asked; revoked counts the
    // sessions whose tickets were refused.
    virtual bool revokeSessionTickets(std::span<const std::int64_t> ids, std::string_view operatorName,
                                      std::string_view reason, std::string_view by, std::size_t& revoked,
                                      std::string& error) = 0;
    // Notes that the server is alive now (Unix seconds).
    virtual bool noteServerAlive(std::string_view server, std::int64_t now, std::string& error) = 0;
    // The servers noted, with when each last noted itself.
    virtual bool listServers(std::vector<std::pair<std::string, std::int64_t>>& servers,
                             std::string& error) = 0;
    // Ends every live session of those servers, giving the reason, and forgets the servers.
    virtual bool endServerSessions(std::span<const std::string> servers, std::string_view reason,
                                   std::size_t& ended, std::string& error) = 0;
    // Deletes the sessions ended before the stamp ("YYYY.MM.DD HH:MM:SS").
    virtual bool deleteEndedSessions(std::string_view endedBefore, std::size_t& deleted,
                                     std::string& error) = 0;
    // Notes the last request of live sessions.
    virtual bool noteSessionRequests(std::span<const SessionTouch> touches, std::string& error) = 0;
    // Ends those of the sessions that are live, giving the reason; ended counts them.
    virtual bool endSessions(std::span<const std::int64_t> ids, std::string_view reason, std::size_t& ended,
                             std::string& error) = 0;
    // Ends every live session of the operator, giving the reason; ended counts them.
    virtual bool endOperatorSessions(std::string_view operatorName, std::string_view reason,
                                     std::size_t& ended, std::string& error) = 0;
    // The live sessions by number (with ended ones too when withEnded), only the operator's when
    // operatorName is not empty.
    virtual bool listSessions(std::string_view operatorName, bool withEnded,
                              std::vector<SessionRecord>& sessions, std::string& error) = 0;

    // Whether a code table of that name can be downloaded.
    virtual bool hasCodeTable(std::string_view table) = 0;
    // The code table's rows the operator may see, each column under its own name.
    virtual StreamEnd streamCodeTable(std::string_view table, const Operator& op, ReplyWriter& reply,
                                      std::string& error) = 0;

    // The rules of one category the operator may see and the conditions select, in serial order.
    virtual StreamEnd streamRules(const RuleQuery& query, std::span<const ReplyColumn> columns,
                                  ReplyWriter& reply, std::string& error) = 0;

    // Orders of one rule, by order date and number. Columns, in this order under tags[i]: account, order
    // number, status text, contract, buy/sell, open/close, price, lots, fill price, filled, cancelled,
    // speculation kind, exchange, order time, report time, order date, flag, rule serial, category, code.
    virtual StreamEnd streamOrders(const OrderQuery& query, std::span<const std::uint32_t> tags,
                                   ReplyWriter& reply, std::string& error) = 0;

    // Where the database stands now; answered from memory while the back-end has noticed no write since
    // it last looked.
    virtual bool readChangeState(ChangeState& state, std::string& error) = 0;
    // Rules of the category committed at position `from` or later (as rows or tombstones), counted up to
    // limit + 1.
    virtual bool countRuleChanges(int category, std::int64_t from, std::int64_t limit, std::int64_t& count,
                                  std::string& error) = 0;
    // One row [797=serial][9103=1] per rule of query.category, written or gone since query.changedFrom,
    // whose customer (the old one for a gone rule) the operator may see and that the query does not
    // select now; in serial order.
    virtual StreamEnd streamLeftRules(const RuleQuery& query, ReplyWriter& reply, std::string& error) = 0;
    // Whether an order the query selects was committed at position `from` or later, or one of the
    // query's customer and rule was deleted since; never true of a customer the query's operator may not
    // see.
    virtual bool ordersChangedSince(const OrderQuery& query, std::int64_t from, bool& changed,
                                    std::string& error) = 0;
    // Tombstones are kept for at least keepSeconds. The database holds a mark (a time and the position to
    // ask from then); a call made keepSeconds or more after the mark deletes the tombstones committed
    // before it, raises ChangeState::keptFrom to its position and sets a new mark. The first call only
    // sets the mark. `now` is in seconds since the epoch; pruned counts the tombstones deleted.
    virtual bool pruneTombstones(std::int64_t now, std::int64_t keepSeconds, std::int64_t& pruned,
                                 std::string& error) = 0;

    // Linked-order groups by number. Columns: group number, name, account, state, branch, right, scope.
    virtual StreamEnd streamLinkGroups(const Operator& op, const Conditions& cond,
                                       std::span<const std::uint32_t> tags, ReplyWriter& reply,
                                       std::string& error) = 0;
    // Their sub-groups in stored order. Columns: group number, sub-group number, short name, order way,
    // change date, change time.
    virtual StreamEnd streamLinkSubgroups(const Operator& op, const Conditions& cond,
                                          std::span<const std::uint32_t> tags, ReplyWriter& reply,
                                          std::string& error) = 0;
};

} // namespace orvo::server
