#include "host/com/ReplyReadAhead.h"

#include "host/com/AwaitedFrame.h"

#include <algorithm>
#include <cassert>
#include <new>
#include <utility>

namespace orvo::com {
namespace {

constexpr std::size_t kBatchBytes = 256 * 1024; // of row bodies: about a thousand rule rows
constexpr std::size_t kBatchesAhead = 4;
// Batches in existence at most: those handed over, the one being filled and the owner's current one. A
// new batch is made only when no spare one is left.
constexpr std::size_t kMostBatches = kBatchesAhead + 2;
constexpr int kSliceMs = 100; // how soon the thread notices that it is asked to stop while it waits
constexpr const char* kStoppedText = "reading the reply was stopped";

// `view`, which points into `from`, as the same bytes in a copy of `from` that starts at `to`.
std::string_view ViewInCopy(std::string_view view, std::string_view from, const char* to) {
    return view.empty() ? std::string_view()
                        : std::string_view(to + (view.data() - from.data()), view.size());
}

} // namespace

ReplyReadAhead::ReplyReadAhead(FixSocket& socket, proto::FrameReader& reader, std::uint32_t seq,
                               int replyTimeoutMs)
    : m_socket(socket), m_reader(reader), m_seq(seq), m_replyTimeoutMs(replyTimeoutMs) {
    // Reserved now, so that the owner's NextRow() never allocates when it gives a batch back.
    m_spare.reserve(kMostBatches);
    // Last: from here the socket and the reader are the thread's.
    m_thread = std::thread([this] { ThreadMain(); });
}

ReplyReadAhead::~ReplyReadAhead() {
    {
        const std::lock_guard guard(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
    // The socket and the reader are handed back only by a thread that has ended its reading.
    assert(m_done && "the read-ahead thread let go of the connection without ending its reading");
}

ReplyReadAhead::Arrival ReplyReadAhead::NextRow(Deadline until, std::span<const proto::Item>& items,
                                                std::size_t& first) {
    if (!m_current || m_nextRow == m_current->rows.size()) {
        std::unique_lock guard(m_lock);
        if (m_current)
            m_spare.push_back(std::move(m_current)); // within the capacity reserved
        if (!m_changed.wait_until(guard, until, [this] { return !m_ready.empty() || m_done; }))
            return Arrival::Waiting;
        if (m_ready.empty())
            return Arrival::Ended;
        m_current = std::move(m_ready.front());
        m_ready.pop_front();
        m_nextRow = 0;
        guard.unlock();
        m_changed.notify_all(); // room for one more batch
    }
    const Batch::Row& row = m_current->rows[m_nextRow++];
    items = std::span<const proto::Item>(m_current->items).subspan(row.begin, row.count);
    first = row.first;
    return Arrival::Row;
}

void ReplyReadAhead::ThreadMain() noexcept {
    // An exception leaving a thread would end the client: the reply fails instead.
    try {
        ReadReply();
    } catch (const std::bad_alloc&) {
        EndAbruptly(Ending::Kind::OutOfMemory);
    } catch (...) {
        EndAbruptly(Ending::Kind::Faulted);
    }
}

void ReplyReadAhead::ReadReply() {
    using Kind = Ending::Kind;
    const Ending stopped{Kind::Stopped, 0, kStoppedText, {}};
    proto::Frame frame;
    Deadline deadline{};
    bool deadlineSet = false;
    for (;;) {
        const proto::ReadResult result = m_reader.Next(frame);
        if (result == proto::ReadResult::Error)
            return EndReading({Kind::Broken, 0, BrokenReplyText(m_reader.error()), {}});
        if (result == proto::ReadResult::Frame) {
            AwaitedFrame taken = TakeAwaitedFrame(frame, m_seq);
            switch (taken.kind) {
            case AwaitedFrame::Kind::Skip:
                continue; // the rest of an abandoned reply
            case AwaitedFrame::Kind::Row:
                if (!CopyRowIntoBatch(frame, taken.header.firstData))
                    return EndReading(stopped);
                deadlineSet = false;
                continue;
            case AwaitedFrame::Kind::End:
                return EndReading({Kind::End, taken.header.status, std::string(taken.header.text),
                                   taken.rowsSent, std::move(taken.endItems)});
            case AwaitedFrame::Kind::Refused:
                return EndReading({Kind::Refused, taken.header.status, std::string(taken.header.text), {}});
            case AwaitedFrame::Kind::Broken:
                return EndReading({Kind::Broken, 0, std::move(taken.text), {}});
            }
        }
        // Before the socket is waited on, the rows in hand go to the owner (and a stop is noticed).
        if (!HandOverFilledBatch())
            return EndReading(stopped);
        if (!deadlineSet) {
            deadline = DeadlineAfter(m_replyTimeoutMs);
            deadlineSet = true;
        }
        const Deadline slice = std::min(deadline, DeadlineAfter(kSliceMs));
        std::size_t received = 0;
        std::string error;
        const FixSocket::Result waited =
            m_socket.Receive(m_reader.PrepareWrite(kReceiveChunk), slice, received, error);
        if (waited == FixSocket::Result::Ok)
            m_reader.Commit(received);
        else if (waited != FixSocket::Result::TimedOut || slice == deadline) // not a mere slice
            return EndReading({Kind::Broken, 0, ReceiveFailureText(waited, error, m_replyTimeoutMs), {}});
    }
}

bool ReplyReadAhead::CopyRowIntoBatch(const proto::Frame& frame, std::size_t first) {
    const std::string_view body = frame.body;
    if (m_filling && m_filling->bytes.size() + body.size() > m_filling->bytes.capacity() &&
        !HandOverFilledBatch())
        return false;
    if (!m_filling)
        m_filling = EmptyBatchFor(body.size());
    Batch& batch = *m_filling;
    // Within the capacity reserved, so the bytes never move and the views below hold.
    const char* const copy = batch.bytes.data() + batch.bytes.size();
    batch.bytes.append(body);
    const std::size_t begin = batch.items.size();
    for (const proto::Item& item : frame.items)
        batch.items.push_back(
            {ViewInCopy(item.key, body, copy), ViewInCopy(item.value, body, copy), item.tag});
    batch.rows.push_back({begin, frame.items.size(), first});
    return true;
}

std::unique_ptr<ReplyReadAhead::Batch> ReplyReadAhead::EmptyBatchFor(std::size_t bodyBytes) {
    std::unique_ptr<Batch> batch;
    {
        const std::lock_guard guard(m_lock);
        if (!m_spare.empty()) {
            batch = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    if (!batch)
        batch = std::make_unique<Batch>();
    batch->bytes.clear();
    batch->items.clear();
    batch->rows.clear();
    batch->bytes.reserve(std::max(kBatchBytes, bodyBytes));
    return batch;
}

bool ReplyReadAhead::HandOverFilledBatch() {
    std::unique_lock guard(m_lock);
    if (m_filling && !m_filling->rows.empty()) {
        m_changed.wait(guard, [this] { return m_stop || m_ready.size() < kBatchesAhead; });
        if (m_stop)
            return false;
        m_ready.push_back(std::move(m_filling));
        guard.unlock();
        m_changed.notify_all();
        return true;
    }
    return !m_stop;
}

void ReplyReadAhead::EndReading(Ending ending) {
    // Whatever ends the reading, the whole rows before it are the owner's, as they are when a reply is
    // read row by row.
    if (!HandOverFilledBatch())
        ending = {Ending::Kind::Stopped, 0, kStoppedText, {}};
    {
        const std::lock_guard guard(m_lock);
        m_ending = std::move(ending);
        m_done = true;
    }
    m_changed.notify_all();
}

void ReplyReadAhead::EndAbruptly(Ending::Kind kind) noexcept {
    {
        const std::lock_guard guard(m_lock);
        m_ending.kind = kind; // the text stays empty: making one could fail again
        m_ending.status = 0;
        m_ending.rowsSent.reset();
        m_done = true;
    }
    m_changed.notify_all();
}

} // namespace orvo::com
