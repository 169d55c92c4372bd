// Writes one frame at the end of a caller's buffer, items in the order they are added.
#pragma once

#include "protocol/Error.h"
#include "protocol/Limits.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::proto {

class FrameBuilder {
public:
    // Starts a frame at the end of `out`; the length prefix is filled in by Finish().
    explicit FrameBuilder(std::string& out, Limits limits = {});
    // An unfinished frame is taken back out of the buffer.
    ~FrameBuilder();
    FrameBuilder(const FrameBuilder&) = delete;
    FrameBuilder& operator=(const FrameBuilder&) = delete;

    FrameBuilder& Add(std::uint32_t tag, std::string_view value);
    FrameBuilder& Add(std::uint32_t tag, long long value);
    FrameBuilder& Add(std::uint32_t tag, int value) { return Add(tag, static_cast<long long>(value)); }
    FrameBuilder& Add(std::uint32_t tag, long value) { return Add(tag, static_cast<long long>(value)); }
    FrameBuilder& Add(std::uint32_t tag, unsigned value) { return Add(tag, static_cast<long long>(value)); }
    FrameBuilder& Add(std::uint32_t tag, const char* value) { return Add(tag, std::string_view(value)); }
    // A column-name key (table rows).
    FrameBuilder& AddNamed(std::string_view name, std::string_view value);
    // A tag whose digits the caller wrote once (a valid tag's, e.g. "797") and a value it has already
    // checked to hold no 0x01: neither is looked at again. The frame's limits still apply.
    FrameBuilder& AddChecked(std::string_view tagDigits, std::string_view value);

    // Closes the frame: None, or the first error met (then `out` is as it was before the builder).
    Error Finish();

    Error error() const { return m_error; }
    std::size_t items() const { return m_items; }

private:
    void AddKeyValue(std::string_view key, std::string_view value);
    void Append(std::string_view key, std::string_view value);

    std::string& m_out;
    Limits m_limits;
    std::size_t m_start;
    std::size_t m_items = 0;
    Error m_error = Error::None;
    bool m_finished = false;
};

} // namespace orvo::proto
