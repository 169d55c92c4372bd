// The rest of a long reply, received and parsed on a thread of its own while the caller fills the rows
// it already has: on a machine of two cores or more, parsing then costs the caller next to nothing.
//
// The thread owns the connection's socket and frame reader from construction to destruction (the reply's
// end, a failure, or the owner's request): the owner must not touch them meanwhile, and has them back once
// the destructor has joined the thread. It applies the channel's rules as the caller would: frames of
// other requests (an abandoned reply) are skipped, each row must arrive within the reply time-out from the
// start of its wait, and anything broken stops the reading. Rows are handed over in batches that own
// their bytes, at most a few batches ahead of the caller, so a reply takes no more memory however long it
// is; batches the owner is done with are filled again. Running out of memory on the thread ends the
// reading as a failure (the stream is then out of step and the connection must be closed); it never
// escapes the thread.
#pragma once

#include "host/com/FixSocket.h"
#include "protocol/Protocol.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace orvo::com {

class ReplyReadAhead {
public:
    // How the reading ended.
    struct Ending {
        enum class Kind {
            End,         // the reply's end frame: `status`, `text`, `rowsSent`
            Refused,     // a frame of sequence 0: `status`, `text`
            Broken,      // the stream cannot be trusted: `text` says why
            Stopped,     // the owner asked the thread to stop
            OutOfMemory, // an allocation failed on the thread: the stream is out of step
            Faulted,     // something else went wrong on the thread: the stream is out of step
        };
        Kind kind = Kind::Stopped;
        int status = 0;   // End, Refused: the server's status
        std::string text; // End, Refused: the server's text (as sent); Broken: what went wrong
        std::optional<std::uint64_t> rowsSent; // End: the rows the server says it sent, when it says
        std::vector<std::pair<std::uint32_t, std::string>> endItems{}; // End: the end frame's data items
    };
    enum class Arrival { Row, Waiting, Ended };

    // Lends the socket and the reader to a new thread reading the reply to request `seq`; the reader may
    // already hold some of it. Throws std::system_error when no thread can be started and std::bad_alloc,
    // and then has touched neither.
    ReplyReadAhead(FixSocket& socket, proto::FrameReader& reader, std::uint32_t seq, int replyTimeoutMs);
    // Asks the thread to stop and joins it (at most one receive slice, 100 ms): the socket and the reader
    // are the owner's again.
    ~ReplyReadAhead();
    ReplyReadAhead(const ReplyReadAhead&) = delete;
    ReplyReadAhead& operator=(const ReplyReadAhead&) = delete;

    // The next row: its items, valid until the next call, and the position of its first item after the
    // header. Waiting: none came by `until`. Ended: every row has been handed over and the thread has
    // stopped reading; HowItEnded() tells why.
    Arrival NextRow(Deadline until, std::span<const proto::Item>& items, std::size_t& first);
    const Ending& HowItEnded() const { return m_ending; }

private:
    struct Batch {
        struct Row {
            std::size_t begin = 0, count = 0, first = 0; // in `items`
        };
        std::string bytes;              // the rows' bodies; its capacity is fixed, so views into it hold
        std::vector<proto::Item> items; // every row's items, pointing into `bytes`
        std::vector<Row> rows;
    };

    // The thread: ReadReply(), with whatever it throws turned into an ending.
    void ThreadMain() noexcept;
    void ReadReply();
    // Copies one row's frame into the batch being filled, handing that batch over first when it is full;
    // false when asked to stop.
    bool CopyRowIntoBatch(const proto::Frame& frame, std::size_t first);
    // A batch to fill, empty, with room for a body of this size: one the owner has done with when there
    // is one, as its memory is already mapped and warm.
    std::unique_ptr<Batch> EmptyBatchFor(std::size_t bodyBytes);
    // Hands the batch being filled over to the owner, waiting while the owner is kBatchesAhead behind;
    // false when asked to stop.
    bool HandOverFilledBatch();
    // Hands over the whole rows read and then the ending.
    void EndReading(Ending ending);
    // The ending when the thread failed inside: allocates nothing, hands over nothing more.
    void EndAbruptly(Ending::Kind kind) noexcept;

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
    std::unique_ptr<Batch> m_current; // the owner's: the batch of the current row
    std::size_t m_nextRow = 0;        // in m_current
    std::thread m_thread;
};

} // namespace orvo::com
