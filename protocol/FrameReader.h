// Incremental frame reader: bytes go in as they arrive (one at a time or many frames at once), whole
// frames come out as items that point into the reader's own buffer.
#pragma once

#include "protocol/Items.h"

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

namespace orvo::proto {

class FrameReader {
public:
    explicit FrameReader(Limits limits = {});

    // Room for at least `minimum` more bytes at the end of the buffer, to receive into; then Commit() the
    // count actually written. Unread bytes may move, so views of frames already returned end here.
    std::span<char> PrepareWrite(std::size_t minimum = 64 * 1024);
    void Commit(std::size_t written);
    // Copies bytes in (PrepareWrite + Commit).
    void Feed(std::string_view bytes);

    // The next whole frame, parsed into `frame`. NeedMore: wait for more bytes. Error: the stream is
    // broken for good; error() tells why and every later call returns Error until Reset().
    ReadResult Next(Frame& frame);

    Error error() const { return m_error; }
    std::size_t Buffered() const { return m_end - m_begin; } // received, not yet returned as a frame
    std::size_t Capacity() const { return m_capacity; }      // bytes the buffer holds on to
    void Reset();                                            // drop everything, e.g. for a new connection
    const Limits& limits() const { return m_limits; }

private:
    Limits m_limits;
    std::unique_ptr<char[]> m_data;
    std::size_t m_capacity = 0;
    std::size_t m_begin = 0; // first unread byte
    std::size_t m_end = 0;   // one past the last received byte
    Error m_error = Error::None;
};

} // namespace orvo::proto
