// The simulated session: the same seed plays the same changes on the same data, and the session holds
// every kind of change the live book shows.
#include "ServerFixture.h"

#include "server/demo/MarketSimulator.h"

#include <gtest/gtest.h>

#include <map>

namespace orvo::test {
namespace {

std::string text(server::Db& db, const std::string& sql) {
    server::Statement stmt;
    std::string error;
    EXPECT_TRUE(db.prepare(sql, stmt, error)) << error;
    EXPECT_EQ(stmt.step(), SQLITE_ROW);
    return std::string(stmt.text(0));
}

std::string book(server::Db& db) {
    return text(db,
                "SELECT group_concat(lsh || '|' || cfzt || '|' || status_text || '|' || trig_price || '|' || "
                "valid_date || '|' || filled || '|' || set_time, ';') FROM rules") +
           text(db, "SELECT group_concat(id || '|' || lsh || '|' || status_text || '|' || filled || '|' || "
                    "fill_price || '|' || wtsj, ';') FROM orders");
}

TEST(MarketSimulator, TheSameSeedPlaysTheSameSessionOfEveryKindOfChange) {
    std::string sessions[2];
    std::map<server::SimulatedEvent, int> seen;
    for (std::string& session : sessions) {
        WritableDemo own("simulated.db");
        ASSERT_TRUE(own.ok);
        server::SimulatorOptions options;
        options.seed = 42;
        options.today = kToday;
        server::MarketSimulator simulator(options);
        const std::string counterBefore = text(own.writer, "SELECT value FROM rule_revision");
        std::string error;
        seen.clear();
        for (int i = 0; i < 300; ++i) {
            server::SimulatedEvent event = server::SimulatedEvent::None;
            ASSERT_TRUE(simulator.step(own.writer, event, error)) << error;
            ++seen[event];
        }
        EXPECT_EQ(simulator.changes(), 300u - static_cast<unsigned>(seen[server::SimulatedEvent::None]));
        // Through the database's own triggers: revisions drawn, new orders carrying theirs.
        EXPECT_NE(text(own.writer, "SELECT value FROM rule_revision"), counterBefore);
        EXPECT_EQ(text(own.writer, "SELECT count(*) FROM orders WHERE wtrq = '" + std::string(kToday) +
                                       "' AND status_text = '已报' AND rev = 0"),
                  "0");
        session = book(own.writer);
    }
    EXPECT_EQ(sessions[0], sessions[1]);
    for (const auto event : {server::SimulatedEvent::PriceMoved, server::SimulatedEvent::RuleTriggered,
                             server::SimulatedEvent::OrderFilled, server::SimulatedEvent::RuleCancelled,
                             server::SimulatedEvent::RuleExpired, server::SimulatedEvent::RuleSet})
        EXPECT_GT(seen[event], 0) << static_cast<int>(event);
}

} // namespace
} // namespace orvo::test
