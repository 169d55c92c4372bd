// One client connection on the event loop. Reads frames without a thread of its own; a whole request
// goes to a worker pool, whose thread streams the reply back through this connection one chunk at a
// time: it hands a chunk to the loop and waits while the peer is slow, so a reply costs a fixed amount
// of memory however long it is. Every wait has a deadline: the login, the idle time, a started frame,
// and each chunk written (a peer that stops reading is dropped, however the chunk is split into sends).
#pragma once

#include "protocol/FrameReader.h"
#include "server/functions/Request.h"
#include "server/net/ServerCore.h"
#include "server/store/ReplyWriter.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
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
    // Loop thread: closes the socket (idempotent); why is logged when not empty.
    void close(std::string_view why);
    bool requestRunning() const { return m_requestRunning; }

private:
    asio::ip::tcp::socket& socket() { return m_tls ? m_tls->next_layer() : m_socket; }
    template <typename Operation> void withStream(Operation operation) {
        if (m_tls)
            operation(*m_tls);
        else
            operation(m_socket);
    }

    void startHandshake();
    void refusePlainText(); // answers a plain-text client on the TLS port, then closes
    void discardUntilClosed();
    void afterHandshake();
    void processFrames();
    void readMore();
    void armReadTimer();
    void onReadTimer();
    void dispatchRequest();
    void runRequest(Store* store, const std::string& dbError); // worker thread
    void onRequestDone(bool closeAfter);
    void finishRequest();
    void startWrite();
    void onWritten(const asio::error_code& ec);

    // Worker thread: waits until the previous chunk is out, then hands this one to the loop.
    bool write(std::string_view bytes) override;

    ServerCore& m_core;
    asio::ip::tcp::socket m_socket;
    std::optional<asio::ssl::stream<asio::ip::tcp::socket>> m_tls;
    const std::string m_peer;    // address:port, for the log
    const std::string m_address; // address alone, for login throttling
    const std::string m_refusal;

    asio::steady_timer m_readTimer;
    asio::steady_timer m_writeTimer;
    Clock::time_point m_loginDeadline;
    Clock::time_point m_idleDeadline;
    Clock::time_point m_frameDeadline = Clock::time_point::max();

    proto::FrameReader m_reader;
    proto::Frame m_frame;
    Session m_session;       // the worker's while a request runs, the loop's otherwise
    bool m_loggedIn = false; // as counted in core.pending
    bool m_counted = false;  // counted in core.active
    bool m_closed = false;
    bool m_requestRunning = false;
    bool m_replyDone = false; // the worker has finished; the last chunk may still be going out
    bool m_closeAfterReply = false;

    // Shared between the worker that writes and the loop that sends.
    std::mutex m_sinkMutex;
    std::condition_variable m_sinkReady;
    std::string m_pending; // the chunk being sent
    bool m_inFlight = false;
    bool m_sinkFailed = false;
};

} // namespace orvo::server
