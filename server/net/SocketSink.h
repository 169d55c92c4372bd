// The reply's way from the worker that writes it to the event loop that sends it. The worker hands a
// chunk over and waits a short moment while the previous one is still going out, so a client that reads
// as fast as replies are made costs one chunk of memory however long the reply is. A client that does
// not take a chunk within that moment has the rest of the reply kept aside (ReplySpill: memory within a
// server-wide budget, then a temporary file) and the worker goes on without waiting again, so a slow
// reader never holds a worker, a database snapshot or a pooled connection.
// Thread-safe: the worker puts, the loop takes and confirms.
#pragma once

#include "server/net/ReplySpill.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>

namespace orvo::server {

class SocketSink {
public:
    explicit SocketSink(SpillBudget& budget) : m_spill(budget) {}

    enum class Put {
        Handed, // the loop must be told to send the chunk
        Kept,   // kept aside; the loop sends it after what it is sending now
        Failed, // the connection has failed (or the bytes could not be kept)
    };
    // Worker: hands bytes over, waiting up to handoff for the previous chunk to go out first.
    Put put(std::string_view bytes, std::chrono::milliseconds handoff);

    // Loop: the chunk to send; it stays unchanged until sent() is called.
    std::string_view chunk();
    // Loop: the chunk is out (ok) or could not be sent (the connection has failed for good). True when
    // a further chunk, kept aside meanwhile, is now the one to send.
    bool sent(bool ok);
    // Any thread: the connection is gone; a waiting or later put() fails, what was kept is dropped.
    void fail();
    // Loop: a chunk is handed over and not yet confirmed sent.
    bool sending();
    // Why a put() or sent() failed when the connection itself did not: empty otherwise.
    std::string error();
    // Bytes of the reply kept aside now, and whether a temporary file held part of them.
    std::uint64_t keptBytes();
    bool usedFile();
    // Loop, between requests: an idle connection keeps no send buffer.
    void release();

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_chunk;
    ReplySpill m_spill;
    std::string m_error;
    bool m_sending = false;      // the loop has the chunk until it confirms, even after a failure
    bool m_keepingAside = false; // this reply no longer waits for the client
    bool m_failed = false;       // nothing more goes out
};

} // namespace orvo::server
