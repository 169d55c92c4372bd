// What the counter's functions read from the data, independent of the database behind it. Each query
// streams its rows straight into the reply as they are read, so no result is ever held whole; the
// functions say which record fields go under which reply tags, the back-end says how they are found.
#pragma once

#include "server/store/Conditions.h"
#include "server/store/Operator.h"
#include "server/store/ReplyWriter.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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
