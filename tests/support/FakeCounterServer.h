// FakeCounterServer: a counter server inside a test, on 127.0.0.1 and a free port, on its own thread.
// It speaks the real counter channel protocol, records every request item by item, and answers with
// scripted replies, so a test can check exactly what a client sent and feed it exactly the rows it wants.
//
//   orvo::test::FakeCounterServer server;                    // listening at once
//   settings.host = "127.0.0.1"; settings.port = server.port();
//   server.Script(16477, {.rows = {{{"797", "1001"}, {"605", "0101"}}}});
//   ... run the client ...
//   auto sent = server.Requests(16477);                      // every 16477 request, items in order
//   EXPECT_EQ(sent.at(0).Keys(), (std::vector<std::string>{"697", "9020"}));
//   EXPECT_EQ(sent.at(0).Value("9020"), "0");
//
// Behaviour
// - Login (function 1, items 553 operator and 554 password) succeeds for any operator unless accounts
//   were added with AddAccount(); then only those pass (status 3 otherwise). Every other function on a
//   connection that has not logged in gets status 2, unless SetRequireLogin(false).
// - Heartbeat (3) is answered with status 0. A function with no script gets status 4 "unknown function".
// - Script(function, reply) answers every later request of that function; ScriptOnce() queues a reply used
//   once, before the standing script. ScriptTable(name, reply) answers function 2 for table `name`.
// - Values are raw bytes: GBK text goes in and comes out as GBK.
// - Faults (FakeReply::fault): close the connection, stall (never answer), send a broken frame or keep
//   sending frames of a wrong sequence, after `faultAfterRows` rows; or turn the connection away with a
//   reply of sequence 0. A stalled connection answers nothing more; a new connection works normally.
// - Requests are served in the order they arrive; a reply streams out as the client reads it, so a
//   generated reply of a million rows costs the server no more memory than a few hundred kilobytes.
// - With certificates, the server speaks TLS only: a client must verify it and finish the handshake.
// Thread-safety: every member may be called from the test thread while the server thread runs.
#pragma once

#include "tests/support/TestCertificates.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

struct ssl_ctx_st;

namespace orvo::test {

// One row's items in order: key (tag digits, or a column name for table rows) and value (GBK bytes).
using FakeItems = std::vector<std::pair<std::string, std::string>>;

struct FakeReply {
    enum class Fault {
        None,
        Close,       // close the connection after `faultAfterRows` rows, without an end of reply
        Stall,       // send `faultAfterRows` rows, then nothing more on this connection
        BrokenFrame, // send `faultAfterRows` rows, then a frame of length 0
        Refuse,      // an end of reply of sequence 0 with `status` and `text`, then close: a server that
                     // turns the connection away (busy, database unavailable)
        StrayFrames, // send `faultAfterRows` rows, then for 3 s every 20 ms a row of another sequence, never
                     // the end
    };

    std::vector<FakeItems> rows;
    // Optional generated rows, sent after `rows`: generate(i) for i in [0, generatedRows).
    std::size_t generatedRows = 0;
    std::function<FakeItems(std::size_t)> generate;
    int status = 0;     // 39 of the end of reply
    std::string text;   // 58 of the end of reply (GBK)
    FakeItems endItems; // further items of the end of reply, after 60 (a revision, a flag)
    Fault fault = Fault::None;
    std::size_t faultAfterRows = 0;
};

struct RecordedRequest {
    std::uint32_t function = 0;
    std::uint32_t seq = 0;
    int connection = 0; // 1 for the first accepted connection, 2 for the next, ...
    FakeItems items;    // the items after the header (tags 35, 34 and 20), in order

    std::vector<std::string> Keys() const;
    std::string Value(const std::string& key) const; // first value, "" when absent
    bool Has(const std::string& key) const;
};

class FakeCounterServer {
public:
    FakeCounterServer(); // listens on 127.0.0.1, port chosen by the system
    // The same, speaking only TLS (1.2 or later) with the given server certificate and key.
    explicit FakeCounterServer(const TestCertificates& tls);
    ~FakeCounterServer(); // stops the thread and closes every connection
    FakeCounterServer(const FakeCounterServer&) = delete;
    FakeCounterServer& operator=(const FakeCounterServer&) = delete;

    int port() const { return m_port; }

    void AddAccount(const std::string& operatorName, const std::string& password);
    void SetRequireLogin(bool require);
    void Script(std::uint32_t function, FakeReply reply);
    void ScriptOnce(std::uint32_t function, FakeReply reply);
    void ScriptTable(const std::string& table, FakeReply reply);

    std::vector<RecordedRequest> Requests() const;                       // all, logins included
    std::vector<RecordedRequest> Requests(std::uint32_t function) const; // of one function
    void ClearRequests();
    // Waits until at least `count` requests were recorded; false on time-out.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    int ConnectionsAccepted() const;
    int ConnectionsOpen() const;
    // Closes every open connection at once (a server restart as the client sees it).
    void DropConnections();

private:
    struct Connection;
    void Start();
    void Run();
    static ssize_t Receive(Connection& connection, char* into, std::size_t size);
    static ssize_t Transmit(Connection& connection, const char* bytes, std::size_t size);
    void Accept();
    bool ReadFrom(Connection& connection);
    bool WriteTo(Connection& connection);
    void ServeNext(Connection& connection);
    void TopUp(Connection& connection);
    FakeReply ReplyFor(Connection& connection, const RecordedRequest& request, std::uint32_t function);
    void Wake();

    ssl_ctx_st* m_tls = nullptr; // TLS only, when set
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_recorded;
    bool m_stopping = false;
    bool m_dropRequested = false;
    bool m_requireLogin = true;
    std::map<std::string, std::string> m_accounts;
    std::map<std::uint32_t, FakeReply> m_scripts;
    std::map<std::uint32_t, std::vector<FakeReply>> m_once;
    std::map<std::string, FakeReply> m_tables;
    std::vector<RecordedRequest> m_requests;
    int m_accepted = 0;
    int m_open = 0;

    std::vector<std::unique_ptr<Connection>> m_connections; // server thread only
};

} // namespace orvo::test
