// One client connection on the event loop. Reads frames without a thread of its own; a whole request
// goes to a worker pool, whose thread streams the reply back through this connection one chunk at a
// time (SocketSink), so a reply costs a fixed amount of memory however long it is, unless its client
// falls behind: then the rest is kept aside and the worker is free at once. Every wait has a deadline:
// the login, the idle time, a started frame, each chunk written (a peer that stops reading is dropped,
// however the chunk is split into sends), and a whole reply, which must also be taken at a minimum rate.
#pragma once

#include "protocol/FrameReader.h"
#include "server/functions/Request.h"
#include "server/net/ServerCore.h"
#include "server/net/SessionWatch.h"
#include "server/net/SocketSink.h"
#include "server/store/ReplyWriter.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace orvo::server {

class Connection : public std::enable_shared_from_this<Connection>, private ByteSink {
public:
    using Clock = std::chrono::steady_clock;

    // refusal non-empty: the connection is only told so (status 5) and closed.
    Connection(ServerCore& core, asio::ip::tcp::socket socket, std::string peer, std::string address,
               std::string refusal);

    // Loop thread: registers the connection, runs the TLS handshake if any, starts reading.
    void start();
    // Loop thread: closes the socket (idempotent); why is logged when not empty. A request that runs
    // still ends as usual: its worker's next chunk fails.
    void close(std::string_view why);
    // Between a request's dispatch and the last byte of its reply.
    bool requestRunning() const { return m_request.has_value(); }
    // Loop thread, from the session watch, for the session it watches (any other is past): the session
    // was ended, so the client is told why (status 2, sequence 0) and the connection closes, cutting a
    // reply being written; or its operator was changed, which the next request sees.
    void endSession(std::int64_t id, const std::string& why);
    void reviseOperator(std::int64_t id, const Operator& op);

private:
    // The life of a request on this connection; loop thread only.
    enum class Stage {
        Reading,  // waiting for the next request or reading it (after the TLS handshake, if any)
        Running,  // a worker runs the request; its reply goes out chunk by chunk as it is written
        Replying, // the worker has finished; the reply's last chunk is still going out
        Closing,  // last words go out (a refusal, or a reply that ends the connection), then it closes
    };

    asio::ip::tcp::socket& socket() { return m_tls ? m_tls->next_layer() : m_socket; }
    template <typename Operation> void withStream(Operation operation) {
        if (m_tls)
            operation(*m_tls);
        else
            operation(m_socket);
    }

    // Before the first request.
    void startHandshake();
    void afterHandshake();
    void refuseLimit(); // tells a refused client why (status 5), then closes
    void sayBusyAndClose(std::uint32_t seq, std::string_view text); // status 5 with a retry hint
    void refusePlainText(); // answers a plain-text client on the TLS port, then closes
    void discardUntilClosed();
    void armWriteTimer(const char* why);
    void disarmWriteTimer();

    // Reading.
    void processFrames();
    void readMore();
    void armReadTimer();
    void onReadTimer();

    // The transitions of a request: Reading -> Running -> Replying -> Reading, or -> Closing.
    void beginRequest();
    void handOver(); // to a worker, or refused as busy when the logins' queue is full
    void runRequest(Store* store, const std::string& dbError); // worker thread
    void runAgainAfter(std::chrono::milliseconds wait);        // a login waits out a short delay
    void workerDone(bool closeAfter);
    void countLogin(bool loggedIn); // loop thread: the request changed the session's login
    void endRequest();
    void followSession();          // after a request: the watch learns of a login, a new login or a logout
    void sayEndedAndClose();

    // Worker thread: waits until the previous chunk is out, then hands this one to the loop.
    bool write(std::string_view bytes) override;
    void startWrite();
    void onWritten(const asio::error_code& ec);
    // The reply's total deadline and minimum rate, checked each second while it goes out.
    void watchReply();
    void onReplyWatch();

    ServerCore& m_core;
    asio::ip::tcp::socket m_socket;
    std::optional<asio::ssl::stream<asio::ip::tcp::socket>> m_tls;
    const std::string m_peer;    // address:port, for the log
    const std::string m_address; // address alone, for login throttling
    const std::string m_refusal;

    asio::steady_timer m_readTimer;
    asio::steady_timer m_writeTimer;
    asio::steady_timer m_retryTimer;
    asio::steady_timer m_replyTimer;
    Clock::time_point m_loginDeadline;
    Clock::time_point m_idleDeadline;
    Clock::time_point m_frameDeadline = Clock::time_point::max();
    Clock::time_point m_writeDeadline = Clock::time_point::max(); // of the bytes being sent
    // The reply going out: since its first chunk, bytes taken, and time spent waiting for the client.
    Clock::time_point m_replyStart{};
    Clock::time_point m_chunkStart{};
    std::uint64_t m_replyBytes = 0;
    Clock::duration m_replySending{};

    Stage m_stage = Stage::Reading;
    Lane m_lane = Lane::Light; // of the request being run
    std::optional<ServerCore::RequestMark> m_request; // held from dispatch to the reply's last byte
    proto::FrameReader m_reader;
    proto::Frame m_frame;
    Session m_session;       // the worker's while a request runs, the loop's otherwise
    bool m_loggedIn = false; // as counted in the connection limits
    bool m_closed = false;

    std::shared_ptr<SessionWatch::Watched> m_watched; // the session of the logged-in operator
    std::string m_endedWhy;                           // the session was ended: no more requests
    std::optional<Operator> m_revisedOperator;        // for m_watched, once the running request ends

    SocketSink m_sink;       // reply chunks, from the worker to the socket
    std::string m_lastWords; // a refusal's end frame
    std::string m_discarded; // room for what a refused client still sends
};

} // namespace orvo::server
