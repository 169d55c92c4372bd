#include "SessionScenario.h"

#include "CounterdProcess.h"
#include "ServerFixture.h"

#include "protocol/Header.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <sstream>
#include <thread>

namespace orvo::test {
namespace {

using namespace std::chrono_literals;

// A revocation reaches its session within about a second; this only bounds a broken one.
constexpr auto kReachWithin = 5s;

struct Listed {
    long long id = 0;
    std::string server, operatorName, address;
};

std::vector<Listed> listSessions(const std::string& db, const std::string& operatorName = {}) {
    std::vector<std::string> args{"sessions", "--db", db};
    if (!operatorName.empty())
        args.insert(args.end(), {"--operator", operatorName});
    const ProgramRun run = counterd(args);
    EXPECT_EQ(run.code, 0) << run.err;
    std::vector<Listed> sessions;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line); // the heading
    while (std::getline(lines, line)) {
        Listed s;
        std::istringstream fields(line);
        fields >> s.id >> s.server >> s.operatorName >> s.address;
        sessions.push_back(s);
    }
    return sessions;
}

std::vector<Listed> waitForSessionCount(const std::string& db, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kReachWithin;
    std::vector<Listed> sessions = listSessions(db);
    while (sessions.size() != count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
        sessions = listSessions(db);
    }
    return sessions;
}

// Heartbeats until the server answers otherwise: the answer that ends the session, which comes
// unasked (sequence 0) however busy the client keeps it.
Reply heartbeatUntilEnded(RawClient& client) {
    const auto deadline = std::chrono::steady_clock::now() + kReachWithin;
    Reply reply = client.call(proto::kFunctionHeartbeat);
    while (reply.complete && reply.status == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
        reply = client.call(proto::kFunctionHeartbeat);
    }
    return reply;
}

void expectEnded(const Reply& said, RawClient& client, const std::string& why) {
    EXPECT_TRUE(said.complete) << why;
    EXPECT_EQ(said.seq, 0u) << why;
    EXPECT_EQ(said.status, proto::kStatusNotLoggedIn) << why;
    EXPECT_EQ(said.text, why);
    EXPECT_TRUE(client.closedByPeer(3000)) << why;
}

} // namespace

void revocationReachesSessionsOnTwoServers(const std::string& db, const std::vector<std::string>& extraArgs) {
    std::vector<std::string> args{"--listen", "127.0.0.1:0", "--db", db, "--date", kToday};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    CounterdChild first(args), second(args);
    const int port1 = first.loopbackPort(30000), port2 = second.loopbackPort(30000);
    ASSERT_GT(port1, 0) << first.output;
    ASSERT_GT(port2, 0) << second.output;

    // Logged in in this order, so listed in it.
    RawClient adminOn2, tellerOn2, adminOn1, tellerOn1;
    ASSERT_TRUE(adminOn2.connect(port2) && adminOn2.login("admin", "admin"));
    ASSERT_TRUE(tellerOn2.connect(port2) && tellerOn2.login("teller", "teller"));
    ASSERT_TRUE(adminOn1.connect(port1) && adminOn1.login("admin", "admin"));
    ASSERT_TRUE(tellerOn1.connect(port1) && tellerOn1.login("teller", "teller"));

    const std::vector<Listed> all = listSessions(db);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].operatorName, "admin");
    EXPECT_EQ(all[0].address, "127.0.0.1");
    EXPECT_EQ(all[0].server, all[1].server);
    EXPECT_NE(all[0].server, all[2].server) << "each server records under a name of its own";
    const std::vector<Listed> tellers = listSessions(db, "teller");
    ASSERT_EQ(tellers.size(), 2u);
    EXPECT_EQ(tellers[0].id, all[1].id);
    EXPECT_EQ(tellers[1].id, all[3].id);

    // A narrower grant narrows the next replies of the operator's open sessions on both servers.
    const Items everyStopRule{{697, ""}, {9020, "0"}};
    const std::size_t before = adminOn2.call(16477, everyStopRule).rows.size();
    ASSERT_GT(before, 0u);
    const ProgramRun grant =
        counterd({"operator", "grant", "admin", "--db", db, "--branches", "0101", "--groups", "9999"});
    ASSERT_EQ(grant.code, 0) << grant.err;
    const auto deadline = std::chrono::steady_clock::now() + kReachWithin;
    std::size_t after = before;
    while (after == before && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
        const Reply narrowed = adminOn2.call(16477, everyStopRule);
        ASSERT_EQ(narrowed.status, 0) << narrowed.text;
        after = narrowed.rows.size();
    }
    EXPECT_LT(after, before);
    // The other server's session too, once its own watch has run.
    std::string branches;
    while (branches != ",0101," && std::chrono::steady_clock::now() < deadline) {
        const Reply permissions = adminOn1.call(15016);
        ASSERT_EQ(permissions.rows.size(), 1u);
        branches = permissions.rows[0].get(557);
        if (branches != ",0101,")
            std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(branches, ",0101,") << "the other server's session too";

    // A disabled operator's sessions end on both servers, heartbeats or not.
    ASSERT_EQ(counterd({"operator", "disable", "teller", "--db", db}).code, 0);
    expectEnded(heartbeatUntilEnded(tellerOn1), tellerOn1, "session ended: operator disabled");
    expectEnded(tellerOn2.readReply(), tellerOn2, "session ended: operator disabled");

    // An administrator ends one session by its number, whichever server holds it.
    const ProgramRun endOne = counterd({"sessions", "end", std::to_string(all[2].id), "--db", db});
    ASSERT_EQ(endOne.code, 0) << endOne.err;
    expectEnded(adminOn1.readReply(), adminOn1, "session ended by an administrator");
    const ProgramRun endAgain = counterd({"sessions", "end", std::to_string(all[2].id), "--db", db});
    EXPECT_EQ(endAgain.code, 1) << "no live session of that number any more";

    // A new password ends the operator's sessions; a login with it starts a new one.
    ASSERT_EQ(counterd({"operator", "passwd", "admin", "--db", db}, "second\n").code, 0);
    expectEnded(adminOn2.readReply(), adminOn2, "session ended: password changed");
    RawClient again;
    ASSERT_TRUE(again.connect(port1) && again.login("admin", "second"));
    const std::vector<Listed> left = waitForSessionCount(db, 1);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_GT(left[0].id, all[3].id);

    // A session ticket of one server logs in on the other: the key is the database's, on either back-end.
    const Reply issued =
        again.call(proto::kFunctionLogin, {{proto::kTagOperator, "admin"}, {proto::kTagPassword, "second"}});
    ASSERT_EQ(issued.end.get(62).size(), 128u) << issued.text;
    RawClient byTicket;
    ASSERT_TRUE(byTicket.connect(port2));
    const Reply taken =
        byTicket.call(proto::kFunctionLogin, {{proto::kTagOperator, "admin"}, {62, issued.end.get(62)}});
    EXPECT_EQ(taken.status, 0) << taken.text;

    // Ending a session ends its ticket, on every server: the client cannot come back with it, and is
    // told that the ticket is out of date rather than wrong; the listing says who ended it and why.
    const std::vector<Listed> live = waitForSessionCount(db, 3);
    ASSERT_EQ(live.size(), 3u);
    const ProgramRun endByTicket = counterd({"sessions", "end", std::to_string(live.back().id), "--db", db});
    ASSERT_EQ(endByTicket.code, 0) << endByTicket.err;
    const Reply said = byTicket.readReply();
    expectEnded(said, byTicket, "session ended by an administrator");
    EXPECT_EQ(said.end.get(64), "1") << "the reason as a code too";
    for (const int port : {port1, port2}) {
        RawClient back;
        ASSERT_TRUE(back.connect(port));
        const Reply refused =
            back.call(proto::kFunctionLogin, {{proto::kTagOperator, "admin"}, {62, issued.end.get(62)}});
        EXPECT_EQ(refused.status, proto::kStatusNotPermitted);
        EXPECT_EQ(refused.end.get(63), "1") << refused.text;
        EXPECT_NE(refused.text.find("session ended by an administrator"), std::string::npos) << refused.text;
    }
    const ProgramRun ended = counterd({"sessions", "--ended", "--db", db});
    EXPECT_NE(ended.out.find(std::to_string(live.back().id)), std::string::npos) << ended.out;
    EXPECT_NE(ended.out.find("session ended by an administrator"), std::string::npos) << ended.out;

    // A server that stops ends the sessions it held.
    for (CounterdChild* server : {&first, &second}) {
        kill(server->pid, SIGTERM);
        EXPECT_EQ(server->exitCode(10000), 0) << server->output;
    }
    EXPECT_TRUE(listSessions(db).empty());
}

void nothingIsLeftLiveOfDroppedLoginsAndKilledServers(const std::string& db) {
    const std::vector<std::string> args{"--listen", "127.0.0.1:0", "--db", db, "--date", kToday};
    auto first = std::make_unique<CounterdChild>(args);
    const int port = first->loopbackPort(30000);
    ASSERT_GT(port, 0) << first->output;

    // Logins whose connections are gone before their answers: their sessions end all the same.
    for (int i = 0; i < 3; ++i) {
        RawClient dropped;
        ASSERT_TRUE(dropped.connect(port));
        ASSERT_TRUE(dropped.sendRequest(proto::kFunctionLogin,
                                        {{proto::kTagOperator, "admin"}, {proto::kTagPassword, "admin"}}));
    }
    std::this_thread::sleep_for(1500ms); // answered, then a round of the watch
    EXPECT_TRUE(waitForSessionCount(db, 0).empty());

    // A server killed outright: the next one started on this host ends what it left live.
    RawClient live;
    ASSERT_TRUE(live.connect(port) && live.login("teller", "teller"));
    ASSERT_EQ(waitForSessionCount(db, 1).size(), 1u);
    kill(first->pid, SIGKILL);
    first.reset();
    CounterdChild next(args);
    ASSERT_GT(next.loopbackPort(30000), 0) << next.output;
    EXPECT_TRUE(waitForSessionCount(db, 0).empty());
    EXPECT_TRUE(next.waitFor("is gone (server stopped)", 5000)) << next.output;
}

} // namespace orvo::test
