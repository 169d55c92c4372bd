// The rest of a long reply, received and parsed on a thread of its own while the caller fills the rows
// it already has: on a machine of two cores or more, parsing then costs the caller next to nothing.
//
// The thread owns the connection's socket and frame reader from start to stop (the reply's end, a
// failure, or the owner's request); the owner must not touch them meanwhile. It applies the channel's
// rules as the caller would: frames of other requests (an abandoned reply) are skipped, each row must
// arrive within the reply time-out from the start of its wait, and anything broken stops the reading.
// Rows are handed over in batches that own their bytes, at most a few batches ahead of the caller, so a
// reply takes no more memory however long it is; batches the owner is done with are filled again.
#pragma once

#include "host/com/FixSocket.h"
#include "protocol/Protocol.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace orvo::com {

class ReplyReadAhead {
public:
    // How the reading ended.
    struct Ending {
        enum class Kind { End, Refused, Broken, Stopped };
        Kind kind = Kind::Stopped;
        int status = 0;   // End, Refused: the server's status
        std::string text; // End, Refused: the server's text (as sent); Broken: what went wrong
    };
    enum class Take { Row, Waiting, Ended };

    // Starts reading the reply to request `seq`; the reader may already hold some of it.
    ReplyReadAhead(FixSocket& socket, proto::FrameReader& reader, std::uint32_t seq, int replyTimeoutMs);
    // Asks the thread to stop and waits for it: at most one receive slice (100 ms).
    ~ReplyReadAhead();
    ReplyReadAhead(const ReplyReadAhead&) = delete;
    ReplyReadAhead& operator=(const ReplyReadAhead&) = delete;

    // The next row: its items, valid until the next call, and the position of its first item after the
    // header. Waiting: none came by `until`. Ended: every row has been taken and the thread has stopped;
    // ending() tells why.
    Take take(Deadline until, std::span<const proto::Item>& items, std::size_t& first);
    const Ending& ending() const { return m_ending; }

private:
    struct Batch {
        struct Row {
            std::size_t begin = 0, count = 0, first = 0; // in `items`
        };
        std::string bytes;              // the rows' bodies; its capacity is fixed, so views into it hold
        std::vector<proto::Item> items; // every row's items, pointing into `bytes`
        std::vector<Row> rows;
    };

    void Run();
    // Copies one row's frame into the batch being filled, handing that batch over first when it is full.
    bool Keep(const proto::Frame& frame, std::size_t first);
    // A batch to fill, empty, with room for a body of this size: one the owner has done with when there
    // is one, as its memory is already mapped and warm.
    std::unique_ptr<Batch> SpareBatch(std::size_t bodyBytes);
    // Hands the batch being filled over to the owner; false when asked to stop.
    bool Publish();
    void Finish(Ending ending);
    bool StopAsked();

    FixSocket& m_socket;
    proto::FrameReader& m_reader;
    const std::uint32_t m_seq;
    const int m_replyTimeoutMs;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Batch>> m_ready;  // handed over, not yet taken
    std::vector<std::unique_ptr<Batch>> m_spare; // taken and done with, to be filled again
    bool m_stop = false;
    bool m_done = false;
    Ending m_ending;

    std::unique_ptr<Batch> m_filling; // the thread's
    std::unique_ptr<Batch> m_taking;  // the owner's: the batch of the current row
    std::size_t m_nextRow = 0;
    std::thread m_thread;
};

} // namespace orvo::com
