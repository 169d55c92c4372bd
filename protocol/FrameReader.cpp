#include "protocol/FrameReader.h"

#include <algorithm>
#include <cstring>

namespace orvo::proto {

FrameReader::FrameReader(Limits limits) : m_limits(limits) {}

std::span<char> FrameReader::PrepareWrite(std::size_t minimum) {
    if (minimum == 0)
        minimum = 1;
    const std::size_t unread = m_end - m_begin;
    if (m_capacity - m_end < minimum) {
        if (m_capacity - unread >= minimum && m_begin > 0) {
            // Enough room once the unread bytes move to the front.
            std::memmove(m_data.get(), m_data.get() + m_begin, unread);
        } else {
            const std::size_t capacity = std::max(m_capacity * 2, unread + minimum);
            auto data = std::make_unique_for_overwrite<char[]>(capacity);
            if (unread > 0)
                std::memcpy(data.get(), m_data.get() + m_begin, unread);
            m_data = std::move(data);
            m_capacity = capacity;
        }
        m_begin = 0;
        m_end = unread;
    }
    return {m_data.get() + m_end, m_capacity - m_end};
}

void FrameReader::Commit(std::size_t written) {
    m_end += std::min(written, m_capacity - m_end);
}

void FrameReader::Feed(std::string_view bytes) {
    if (bytes.empty())
        return;
    const std::span<char> space = PrepareWrite(bytes.size());
    std::memcpy(space.data(), bytes.data(), bytes.size());
    Commit(bytes.size());
}

ReadResult FrameReader::Next(Frame& frame) {
    if (m_error != Error::None)
        return ReadResult::Error;
    if (m_begin == m_end) {
        // Everything read: start again at the front so the buffer never creeps.
        m_begin = m_end = 0;
        return ReadResult::NeedMore;
    }
    std::string_view body;
    std::size_t consumed = 0;
    const std::string_view unread(m_data.get() + m_begin, m_end - m_begin);
    const ReadResult result = SplitFrame(unread, m_limits, body, consumed, m_error);
    if (result != ReadResult::Frame)
        return result;
    if (const Error error = ParseItems(body, m_limits, frame.items); error != Error::None) {
        m_error = error;
        frame.items.clear();
        return ReadResult::Error;
    }
    frame.body = body;
    m_begin += consumed;
    return ReadResult::Frame;
}

void FrameReader::Reset() {
    m_begin = m_end = 0;
    m_error = Error::None;
}

} // namespace orvo::proto
