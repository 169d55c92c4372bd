// Session tickets across servers sharing one database: what a password login issues lets the operator in
// on another server without a password hash, only for that operator, that day and that password, and
// the channel uses it when it fails over.
#include "CounterdProcess.h"
#include "ServerFixture.h"

#include "host/com/FixComm.h"
#include "protocol/Header.h"
#include "server/demo/PrepareStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <thread>

namespace orvo::test {
namespace {

constexpr std::uint32_t kTagTicket = 62;
constexpr const char* kTicketLogin = "logged in with a session ticket";

Reply ticketLogin(int port, const std::string& name, const std::string& ticket,
                  const char* sourceAddress = nullptr) {
    RawClient client;
    if (!client.connect(port, 5000, sourceAddress))
        return {};
    return client.call(proto::kFunctionLogin, {{proto::kTagOperator, name}, {kTagTicket, ticket}});
}

std::string passwordLogin(int port, const std::string& name, const std::string& password) {
    RawClient client;
    if (!client.connect(port))
        return {};
    const Reply reply =
        client.call(proto::kFunctionLogin, {{proto::kTagOperator, name}, {proto::kTagPassword, password}});
    EXPECT_EQ(reply.status, 0) << reply.text;
    return reply.end.get(kTagTicket);
}

// The first permissions row's operator through the channel, or "" when the request failed.
std::string permissionsOperator(CFixComm& comm) {
    comm.CreateHead(15016, -1);
    std::string name;
    while (comm.More())
        name = comm.GetItem(proto::kTagOperator, -1).str();
    return comm.LastReplyOk() ? name : std::string();
}

// The items of the logins traced, "tag=value" in order.
std::vector<std::string> tracedLogins(const std::vector<FixCommTraceEvent>& trace) {
    std::vector<std::string> items;
    for (const FixCommTraceEvent& event : trace)
        if (event.kind == FixCommTraceEvent::Request && event.function == proto::kFunctionLogin)
            for (const auto& [tag, value] : event.items)
                items.push_back(tag + "=" + value.str());
    return items;
}

TEST(SessionTickets, AreIssuedByOneServerTakenByAnotherWithoutAHashAndRevokedWithTheOperator) {
    TempDir dir;
    const std::string db = dir.path + "/shared.db";
    server::DemoOptions demo;
    demo.today = kToday;
    std::string error;
    ASSERT_TRUE(server::prepareStore(db, &demo, error)) << error;
    const std::vector<std::string> args{"--listen", "127.0.0.1:0", "--db", db, "--date", kToday};
    CounterdChild first(args), second(args);
    const int port1 = first.loopbackPort(30000), port2 = second.loopbackPort(30000);
    ASSERT_GT(port1, 0) << first.output;
    ASSERT_GT(port2, 0) << second.output;

    // The channel logs in on the first server with the password, and keeps the ticket it is given.
    FixCommSettings settings;
    settings.port = port1;
    settings.moreServers = {{"127.0.0.1", port2}};
    settings.operatorName = "admin";
    settings.password = "admin";
    CFixComm comm(settings);
    std::vector<FixCommTraceEvent> trace;
    comm.SetTraceCallback([&trace](const FixCommTraceEvent& event) { trace.push_back(event); });
    ASSERT_EQ(permissionsOperator(comm), "admin") << comm.LastFailure().text.str();

    // A ticket from one server lets its operator in on the other, without a password.
    const std::string ticket = passwordLogin(port1, "admin", "admin");
    ASSERT_EQ(ticket.size(), 128u);
    EXPECT_NE(passwordLogin(port1, "admin", "admin"), ticket) << "every ticket is drawn anew";
    {
        RawClient client;
        ASSERT_TRUE(client.connect(port2));
        const Reply in =
            client.call(proto::kFunctionLogin, {{proto::kTagOperator, "admin"}, {kTagTicket, ticket}});
        EXPECT_EQ(in.status, 0) << in.text;
        EXPECT_EQ(in.text, kTicketLogin);
        EXPECT_FALSE(in.end.has(kTagTicket)) << "a ticket login issues none";
        const Reply permissions = client.call(15016);
        ASSERT_EQ(permissions.rows.size(), 1u);
        EXPECT_EQ(permissions.rows[0].get(proto::kTagOperator), "admin");
    }
    // Only for its operator, unaltered, and on the day it was issued.
    EXPECT_EQ(ticketLogin(port2, "teller", ticket).status, proto::kStatusNotPermitted);
    std::string altered = ticket;
    altered[100] = altered[100] == '0' ? '1' : '0';
    EXPECT_EQ(ticketLogin(port2, "admin", altered).status, proto::kStatusNotPermitted);
    {
        std::vector<std::string> tomorrow = args;
        tomorrow.back() = "2026.12.08";
        CounterdChild nextDay(tomorrow);
        const int port3 = nextDay.loopbackPort(30000);
        ASSERT_GT(port3, 0) << nextDay.output;
        // Out of date is not a guess: refused and told so every time, and the password still gets in.
        for (int i = 0; i < 6; ++i) {
            const Reply outOfDate = ticketLogin(port3, "admin", ticket, "127.0.0.4");
            EXPECT_EQ(outOfDate.status, proto::kStatusNotPermitted);
            EXPECT_EQ(outOfDate.end.get(63), "1") << outOfDate.text;
        }
        RawClient withPassword;
        ASSERT_TRUE(withPassword.connect(port3, 5000, "127.0.0.4"));
        EXPECT_TRUE(withPassword.login("admin", "admin")) << "an office reconnecting on a new day is let in";
    }
    // Forged or altered tickets count against guessing like wrong passwords: past five, that name's
    // password waits at that address. A ticket of ours still holds there: it tells nothing of a password.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ticketLogin(port2, "admin", altered, "127.0.0.3").status, proto::kStatusNotPermitted);
    RawClient guessing;
    ASSERT_TRUE(guessing.connect(port2, 5000, "127.0.0.3"));
    const Reply throttled = guessing.call(proto::kFunctionLogin,
                                          {{proto::kTagOperator, "admin"}, {proto::kTagPassword, "admin"}});
    EXPECT_EQ(throttled.status, proto::kStatusNotPermitted);
    EXPECT_NE(throttled.text.find("too many failed logins"), std::string::npos) << throttled.text;
    EXPECT_EQ(ticketLogin(port2, "admin", ticket, "127.0.0.3").status, 0);

    // The channel's server dies: it moves to the other and logs in there with its ticket, not the password.
    kill(first.pid, SIGKILL);
    trace.clear();
    EXPECT_EQ(permissionsOperator(comm), "admin") << comm.LastFailure().text.str();
    EXPECT_EQ(tracedLogins(trace), (std::vector<std::string>{"553=admin", "62=***"}))
        << "one login, by ticket, traced masked";
    // A reply the user cancels ends with its connection: the next request logs in again at once, by ticket.
    comm.SetWaitCallback([](long) { return false; });
    comm.CreateHead(15016, -1);
    while (comm.More()) {
    }
    comm.SetWaitCallback(nullptr);
    EXPECT_FALSE(comm.IsConnected());
    trace.clear();
    EXPECT_EQ(permissionsOperator(comm), "admin") << comm.LastFailure().text.str();
    EXPECT_EQ(tracedLogins(trace), (std::vector<std::string>{"553=admin", "62=***"}));

    // Disabling an operator or changing its password revokes its tickets; the new password gets a new one.
    const std::string tellerTicket = passwordLogin(port2, "teller", "teller");
    ASSERT_EQ(ticketLogin(port2, "teller", tellerTicket).status, 0);
    ASSERT_EQ(counterd({"operator", "disable", "teller", "--db", db}).code, 0);
    EXPECT_EQ(ticketLogin(port2, "teller", tellerTicket).status, proto::kStatusNotPermitted);
    ASSERT_EQ(counterd({"operator", "passwd", "admin", "--db", db}, "second\n").code, 0);
    EXPECT_EQ(ticketLogin(port2, "admin", ticket).status, proto::kStatusNotPermitted);
    const std::string renewed = passwordLogin(port2, "admin", "second");
    EXPECT_EQ(ticketLogin(port2, "admin", renewed).status, 0);

    // The channel's session ends with the password: it says why and does not log in again by itself,
    // neither with its ticket nor with the password it keeps, until it is asked to.
    // A request may still slip in before the end reaches the connection: asked again until it is told.
    ASSERT_TRUE(second.waitFor("of admin ended: session ended: password changed", 5000)) << second.output;
    for (int i = 0; i < 50 && !comm.SessionEndedForGood(); ++i) {
        permissionsOperator(comm);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(comm.SessionEndedForGood()) << comm.LastFailure().text.str();
    trace.clear();
    EXPECT_EQ(permissionsOperator(comm), "");
    EXPECT_TRUE(tracedLogins(trace).empty()) << "logged in again by itself";
    EXPECT_EQ(comm.LastFailure().status, proto::kStatusNotLoggedIn);
    EXPECT_NE(comm.LastFailure().text.str().find("password changed"), std::string::npos)
        << comm.LastFailure().text.str();
    // The user gives the new password: a session again.
    settings.password = "second";
    comm.Configure(settings);
    ASSERT_TRUE(comm.Login()) << comm.LastFailure().text.str();
    EXPECT_FALSE(comm.SessionEndedForGood());
    EXPECT_EQ(permissionsOperator(comm), "admin");
}

} // namespace
} // namespace orvo::test

namespace orvo::test {
namespace {

// True once a ticket login gives the status, asked again for a few seconds (a rotated key file is read
// again within a second).
bool ticketLoginComesTo(int port, const std::string& name, const std::string& ticket, int status) {
    for (int i = 0; i < 40; ++i) {
        if (ticketLogin(port, name, ticket).status == status)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST(SessionTickets, CannotBeMadeFromACopyOfTheDatabaseAndOnceRevokedStayRevoked) {
    TempDir dir;
    const std::string db = dir.path + "/live.db", copy = dir.path + "/staging.db";
    server::DemoOptions demo;
    demo.today = kToday;
    std::string error;
    ASSERT_TRUE(server::prepareStore(db, &demo, error)) << error;
    CounterdChild live({"--listen", "127.0.0.1:0", "--db", db, "--date", kToday});
    const int port = live.loopbackPort(30000);
    ASSERT_GT(port, 0) << live.output;
    const std::string key = db + ".ticket-key";
    struct stat info {};
    ASSERT_EQ(stat(key.c_str(), &info), 0) << "the key file is made beside the database";
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // Everything a copy of the database holds is not enough: a server on the copy signs with a key of
    // its own, and the live server refuses what it signs.
    ASSERT_EQ(counterd({"backup", copy, "--db", db}).code, 0);
    {
        CounterdChild staging({"--listen", "127.0.0.1:0", "--db", copy, "--date", kToday});
        const int stagingPort = staging.loopbackPort(30000);
        ASSERT_GT(stagingPort, 0) << staging.output;
        const std::string forged = passwordLogin(stagingPort, "admin", "admin");
        ASSERT_EQ(ticketLogin(stagingPort, "admin", forged).status, 0);
        EXPECT_EQ(ticketLogin(port, "admin", forged).status, proto::kStatusNotPermitted);
    }

    // Disabling and enabling an operator again does not bring its tickets back.
    const std::string tellerTicket = passwordLogin(port, "teller", "teller");
    ASSERT_EQ(ticketLogin(port, "teller", tellerTicket).status, 0);
    ASSERT_EQ(counterd({"operator", "disable", "teller", "--db", db}).code, 0);
    ASSERT_EQ(counterd({"operator", "enable", "teller", "--db", db}).code, 0);
    EXPECT_EQ(ticketLogin(port, "teller", tellerTicket).status, proto::kStatusNotPermitted);
    EXPECT_EQ(ticketLogin(port, "teller", passwordLogin(port, "teller", "teller")).status, 0);

    // A rotation: the tickets of the key before are taken for the grace period, then refused; new ones
    // are signed with the new key.
    const std::string before = passwordLogin(port, "admin", "admin");
    ProgramRun rotated = counterd({"tickets", "rotate", "--grace", "600", "--db", db});
    ASSERT_EQ(rotated.code, 0) << rotated.err;
    EXPECT_NE(rotated.out.find("new session ticket key 2"), std::string::npos) << rotated.out;
    std::string after;
    for (int i = 0; i < 40 && after.substr(0, 8) != "00000002"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        after = passwordLogin(port, "admin", "admin");
    }
    EXPECT_EQ(after.substr(0, 8), "00000002") << "new tickets name the new key";
    EXPECT_EQ(ticketLogin(port, "admin", before).status, 0) << "within the grace period";
    rotated = counterd({"tickets", "rotate", "--grace", "0", "--db", db});
    ASSERT_EQ(rotated.code, 0) << rotated.err;
    EXPECT_TRUE(ticketLoginComesTo(port, "admin", before, proto::kStatusNotPermitted));
    EXPECT_TRUE(ticketLoginComesTo(port, "admin", after, proto::kStatusNotPermitted));

    // A key file others may read is refused, naming the cure.
    ASSERT_EQ(chmod(key.c_str(), 0644), 0);
    CounterdChild careless({"--listen", "127.0.0.1:0", "--db", db, "--date", kToday});
    EXPECT_LT(careless.loopbackPort(30000), 0);
    EXPECT_NE(careless.output.find("chmod 600"), std::string::npos) << careless.output;
}

} // namespace
} // namespace orvo::test
