// The server under attack and under faults: password guessing across connections, clients that never
// log in, clients that stop reading, text from the wire in the log, and the database files.
#include "ServerFixture.h"

#include "server/demo/PrepareStore.h"
#include "server/store/LoginCost.h"
#include "server/store/sqlite/Db.h"
#include "server/store/sqlite/SqliteOperators.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

namespace orvo::test {
namespace {

using namespace std::chrono_literals;

// A server of its own on the demo database, with its log kept.
struct OwnServer {
    explicit OwnServer(const std::function<void(server::ServerOptions&)>& adjust = {}) {
        server::ServerOptions o;
        o.dbPath = demo().dbPath;
        o.today = kToday;
        o.log = [this](std::string_view line) {
            std::lock_guard lock(mutex);
            lines.emplace_back(line);
        };
        if (adjust)
            adjust(o);
        server = std::make_unique<server::CounterServer>(o);
        std::string error;
        port = server->start("127.0.0.1", 0, error);
        EXPECT_GT(port, 0) << error;
    }
    std::vector<std::string> log() {
        std::lock_guard lock(mutex);
        return lines;
    }
    bool logHas(const std::string& text) {
        for (const std::string& line : log())
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    std::mutex mutex;
    std::vector<std::string> lines;
    std::unique_ptr<server::CounterServer> server;
    int port = -1;
};

Reply loginFrom(int port, const char* source, const std::string& name, const std::string& password) {
    RawClient c;
    if (!c.connect(port, 5000, source))
        return {};
    return c.call(1, {{553, name}, {554, password}});
}

TEST(LoginDefence, GuessingLocksOutTheGuesserOnlyAndIsCountedBeforeTheCheck) {
    OwnServer s([](server::ServerOptions& o) {
        o.loginGuard.firstDelay = 1500ms;
        o.loginGuard.addressFailuresAllowed = 8;
        o.maxPendingLoginsPerAddress = 32; // the simultaneous guesses below come from one address
    });
    // Five wrong passwords, each on a new connection: reconnecting does not reset the count.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(loginFrom(s.port, "127.0.0.1", "admin", "guess" + std::to_string(i)).status, 3);

    // Now even the right password is refused for that name from that address, without a password
    // check; and the refusal says why. Others behind the same address (an office's router) get in.
    Reply locked = loginFrom(s.port, "127.0.0.1", "admin", "admin");
    EXPECT_EQ(locked.status, 3);
    EXPECT_NE(locked.text.find("too many failed logins"), std::string::npos) << locked.text;
    EXPECT_EQ(loginFrom(s.port, "127.0.0.1", "teller", "teller").status, 0);
    // The real operator elsewhere gets in (after a short delay at most), and so does everyone else.
    EXPECT_EQ(loginFrom(s.port, "127.0.0.2", "admin", "admin").status, 0);
    EXPECT_EQ(loginFrom(s.port, "127.0.0.2", "teller", "teller").status, 0);
    // Failures over many names only slow their address down: a right password there still gets in.
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(loginFrom(s.port, "127.0.0.5", "nobody" + std::to_string(i), "x").status, 3);
    EXPECT_EQ(loginFrom(s.port, "127.0.0.5", "admin", "admin").status, 0);
    // Every refusal is logged with the peer and the name.
    EXPECT_TRUE(s.logHas("peer=127.0.0.1:")) << "no peer in the log";
    EXPECT_TRUE(s.logHas("name=\"admin\""));

    // Simultaneous guesses are counted as they are admitted: no more password checks than the policy
    // allows, however many arrive together.
    constexpr int kGuesses = 14;
    std::vector<std::unique_ptr<RawClient>> guessers;
    for (int i = 0; i < kGuesses; ++i) {
        guessers.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(guessers.back()->connect(s.port, 5000, "127.0.0.3"));
    }
    for (int i = 0; i < kGuesses; ++i)
        ASSERT_TRUE(guessers[static_cast<size_t>(i)]->sendRequest(1, {{553, "teller"}, {554, "guess"}}));
    int checked = 0;
    for (auto& g : guessers) {
        const Reply r = g->readReply();
        EXPECT_EQ(r.status, 3);
        checked += r.text.find("wrong password") != std::string::npos;
    }
    EXPECT_EQ(checked, 5);

    // Once the delay has passed, the right password works again from the guessing address.
    std::this_thread::sleep_for(1600ms);
    EXPECT_EQ(loginFrom(s.port, "127.0.0.1", "admin", "admin").status, 0);

    // Ten failures wait at least a minute with the default limits.
    server::LoginGuard defaults;
    EXPECT_GE(defaults.delayAfter(10), 60s);
}

TEST(ConnectionLimits, OneAddressCannotFillTheRoomForLoggingIn) {
    OwnServer s([](server::ServerOptions& o) { o.maxPendingLoginsPerAddress = 3; });
    std::vector<std::unique_ptr<RawClient>> silent;
    for (int i = 0; i < 3; ++i) {
        silent.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(silent.back()->connect(s.port, 5000, "127.0.0.5"));
    }
    // The same address is refused beyond its share; another address is not.
    for (int i = 0; i < 3; ++i) {
        RawClient more;
        ASSERT_TRUE(more.connect(s.port, 5000, "127.0.0.5"));
        const Reply busy = more.readReply();
        EXPECT_EQ(busy.status, 5);
        EXPECT_NE(busy.text.find("from this address"), std::string::npos) << busy.text;
    }
    RawClient other;
    ASSERT_TRUE(other.connect(s.port, 5000, "127.0.0.6"));
    EXPECT_TRUE(other.login("teller", "teller"));
    // A logged-in connection no longer takes a share.
    ASSERT_TRUE(silent[0]->login("teller", "teller"));
    RawClient next;
    ASSERT_TRUE(next.connect(s.port, 5000, "127.0.0.5"));
    const Reply nextLogin = next.call(1, {{553, "admin"}, {554, "admin"}});
    EXPECT_EQ(nextLogin.status, 0) << nextLogin.text;
    // Three refusals, one log line: the next comes a minute later with the count.
    int lines = 0;
    for (const std::string& line : s.log())
        lines += line.find("refused 127.0.0.5") != std::string::npos;
    EXPECT_EQ(lines, 1);
}

TEST(LoginDefence, UnknownNamesCostTheHashingOfStoredOperators) {
    TempDir dir;
    server::Db db;
    std::string error;
    ASSERT_TRUE(server::prepareStore(dir.path + "/ops.db", nullptr, error)) << error;
    ASSERT_TRUE(db.open(dir.path + "/ops.db", false, error)) << error;
    // Operators with the interactive limits, not the demo ones.
    ASSERT_TRUE(server::storeOperator(db, "clerk", "secret", "9999", "9999", false, error)) << error;
    std::string stored;
    server::Statement q;
    ASSERT_TRUE(db.prepare("SELECT pwhash FROM operators", q, error));
    ASSERT_EQ(q.step(), SQLITE_ROW);
    stored = std::string(q.text(0));
    const std::string dummy = server::dummyHashLikeStored(db);
    auto limits = [](const std::string& hash) { return hash.substr(0, hash.find(",p=")); };
    EXPECT_EQ(limits(dummy), limits(stored));
}

TEST(WireText, IsEscapedInTheLogAndInStatusTexts) {
    OwnServer s;
    RawClient c;
    ASSERT_TRUE(c.connect(s.port));
    // A name holding a newline must not forge a second log line.
    EXPECT_EQ(c.call(1, {{553, "x\nop=admin fn=1"}, {554, "y"}}).status, 3);
    ASSERT_TRUE(c.login("admin", "admin"));
    Reply r = c.call(2, {{30, "QH\nop=admin"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.text.find('\n'), std::string::npos) << r.text;
    EXPECT_NE(r.text.find("QH\\x0Aop=admin"), std::string::npos) << r.text;
    for (const std::string& line : s.log())
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_TRUE(s.logHas("name=\"x\\x0Aop=admin fn=1\""));

    // A malformed login ends the login before it too, and the log names what it sent.
    const std::string tooLong(65, 'n');
    EXPECT_EQ(c.call(1, {{553, tooLong}, {554, "y"}}).status, 1);
    EXPECT_EQ(c.call(15016).status, 2) << "still logged in as admin after a malformed login";
    EXPECT_TRUE(s.logHas("status=1")) << "no line for the malformed login";
    EXPECT_TRUE(s.logHas("name=\"" + tooLong)) << "the line names the previous operator, not what was sent";
}

TEST(Deadlines, LoginTimeoutAndTheLimitOfConnectionsNotLoggedIn) {
    OwnServer s([](server::ServerOptions& o) {
        o.loginTimeoutMs = 600;
        o.maxPendingLogins = 2;
    });
    RawClient chatty, silent, third, member;
    ASSERT_TRUE(member.connect(s.port));
    ASSERT_TRUE(member.login("teller", "teller")); // logged in: no longer counted as waiting
    ASSERT_TRUE(chatty.connect(s.port));
    ASSERT_TRUE(silent.connect(s.port));
    ASSERT_TRUE(third.connect(s.port));
    Reply busy = third.readReply();
    EXPECT_EQ(busy.status, 5);
    EXPECT_NE(busy.text.find("log in"), std::string::npos) << busy.text;
    // Requests before the login extend nothing: the chatty client is closed as the silent one.
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(chatty.call(3).status, 0);
        std::this_thread::sleep_for(150ms);
    }
    EXPECT_TRUE(chatty.closedByPeer(3000));
    EXPECT_TRUE(silent.closedByPeer(3000));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_TRUE(s.logHas("login time-out"));
    EXPECT_EQ(member.call(3).status, 0); // the logged-in operator stays
}

TEST(Deadlines, AClientThatReadsTooSlowlyIsDroppedWithinTheWriteTimeout) {
    OwnServer s([](server::ServerOptions& o) { o.writeTimeoutMs = 500; });
    RawClient c;
    ASSERT_TRUE(c.connect(s.port));
    const int small = 16 * 1024; // no growing receive window to hide the slow reading
    setsockopt(c.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(c.login("admin", "admin"));
    // Many whole-table replies asked for at once, then taken a trickle at a time: every send makes a
    // little progress, but no part of the reply is ever taken within the time-out.
    std::string requests;
    for (std::uint32_t seq = 100; seq < 500; ++seq) { // some 6 MB, more than the socket buffers hold
        proto::FrameBuilder b(requests);
        proto::AddRequestHead(b, seq, 16477);
        b.Add(697, "").Add(9020, "");
        ASSERT_EQ(b.Finish(), proto::Error::None);
    }
    ASSERT_TRUE(c.sendRaw(requests));
    const auto started = std::chrono::steady_clock::now();
    bool dropped = false;
    long total = 0;
    while (!dropped && std::chrono::steady_clock::now() - started < 12s) {
        char buf[256];
        const ssize_t n = recv(c.fd(), buf, sizeof buf, MSG_DONTWAIT);
        dropped = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
        total += n > 0 ? n : 0;
        std::this_thread::sleep_for(25ms); // about 10 KB/s
    }
    EXPECT_TRUE(dropped) << total << " bytes read";
    EXPECT_TRUE(s.logHas("write time-out"));
}

TEST(Files, TheDatabaseAndItsWalAndShmAreOwnerOnly) {
    TempDir dir;
    const std::string path = dir.path + "/private.db";
    const mode_t old = umask(022);
    std::string error;
    ASSERT_TRUE(server::prepareStore(path, nullptr, error)) << error;
    server::Db db;
    ASSERT_TRUE(db.open(path, false, error)) << error;
    ASSERT_TRUE(db.exec("INSERT INTO meta(key, value) VALUES('probe', '1')", error)) << error;
    umask(old);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat st {};
        ASSERT_EQ(stat((path + suffix).c_str(), &st), 0) << suffix;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << path << suffix;
    }
}

} // namespace
} // namespace orvo::test
