// The reply's way from the worker that writes it to the event loop that sends it, one chunk at a time:
// the worker hands a chunk over and waits while the previous one is still going out, so a reply costs
// one chunk of memory however long it is. Thread-safe: the worker puts, the loop takes and confirms.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

namespace orvo::server {

class SocketSink {
public:
    // Worker: waits up to limit for the previous chunk to be sent, then keeps a copy of bytes for the
    // loop to send. False when the connection has failed (or the wait ran out, which fails it).
    bool put(std::string_view bytes, std::chrono::milliseconds limit);

    // Loop: the chunk to send; it stays unchanged until sent() is called.
    std::string_view chunk();
    // Loop: the chunk is out (ok) or could not be sent (the connection has failed for good).
    void sent(bool ok);
    // Any thread: the connection is gone; a waiting or later put() returns false.
    void fail();
    // Loop: a chunk is handed over and not yet confirmed sent.
    bool sending();
    // Loop, between requests: an idle connection keeps no send buffer.
    void release();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_chunk;
    bool m_sending = false; // the loop has the chunk until it confirms, even after a failure
    bool m_failed = false;  // nothing more goes out
};

} // namespace orvo::server
