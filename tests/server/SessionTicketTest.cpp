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
        EXPECT_EQ(ticketLogin(port3, "admin", ticket).status, proto::kStatusNotPermitted);
    }
    // Refused tickets count against guessing like wrong passwords: past five, even a good one waits.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ticketLogin(port2, "admin", altered, "127.0.0.3").status, proto::kStatusNotPermitted);
    const Reply throttled = ticketLogin(port2, "admin", ticket, "127.0.0.3");
    EXPECT_EQ(throttled.status, proto::kStatusNotPermitted);
    EXPECT_NE(throttled.text.find("too many failed logins"), std::string::npos) << throttled.text;

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

    // The channel's session ends with the password; logging in again, it tries its ticket, then its
    // password (both out of date now).
    // A request may still slip in before the end reaches the connection: asked again until it logs in.
    ASSERT_TRUE(second.waitFor("of admin ended: session ended: password changed", 5000)) << second.output;
    for (int i = 0; i < 50; ++i) {
        trace.clear();
        permissionsOperator(comm);
        if (!tracedLogins(trace).empty())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(tracedLogins(trace), (std::vector<std::string>{"553=admin", "62=***", "553=admin", "554=***"}));
    EXPECT_EQ(comm.LastFailure().status, proto::kStatusNotPermitted) << comm.LastFailure().text.str();
}

} // namespace
} // namespace orvo::test
