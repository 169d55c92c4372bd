#include "protocol/FrameBuilder.h"

#include <charconv>
#include <cstring>

namespace orvo::proto {

namespace {

bool IsValidName(std::string_view name) {
    if (name.empty() || name.size() > kMaxColumnNameLength)
        return false;
    bool allDigits = true;
    for (const char c : name) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit && !((c >= 'A' && c <= 'Z') || c == '_'))
            return false;
        allDigits = allDigits && digit;
    }
    return !allDigits; // a key of digits only would read back as a tag
}

} // namespace

FrameBuilder::FrameBuilder(std::string& out, Limits limits)
    : m_out(out), m_limits(limits), m_start(out.size()) {
    m_out.append(kLengthPrefixSize, '\0');
}

FrameBuilder::~FrameBuilder() {
    if (!m_finished)
        m_out.resize(m_start);
}

FrameBuilder& FrameBuilder::Add(std::uint32_t tag, std::string_view value) {
    if (tag == 0 || tag > kMaxTag) {
        if (m_error == Error::None)
            m_error = Error::BadTag;
        return *this;
    }
    char digits[16];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, tag);
    (void)ec; // a uint32 always fits
    AddKeyValue(std::string_view(digits, static_cast<std::size_t>(end - digits)), value);
    return *this;
}

FrameBuilder& FrameBuilder::Add(std::uint32_t tag, long long value) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec; // a long long always fits
    return Add(tag, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

FrameBuilder& FrameBuilder::AddNamed(std::string_view name, std::string_view value) {
    if (m_error == Error::None && !IsValidName(name))
        m_error = Error::BadKey;
    else if (m_error == Error::None && !m_limits.allowColumnNames)
        m_error = Error::ColumnNameNotAllowed;
    AddKeyValue(name, value);
    return *this;
}

FrameBuilder& FrameBuilder::AddChecked(std::string_view tagDigits, std::string_view value) {
    if (m_error == Error::None && !m_finished)
        Append(tagDigits, value);
    return *this;
}

void FrameBuilder::AddKeyValue(std::string_view key, std::string_view value) {
    if (m_error != Error::None || m_finished)
        return;
    if (value.find('\x01') != std::string_view::npos) {
        m_error = Error::ValueHasSeparator;
        return;
    }
    Append(key, value);
}

void FrameBuilder::Append(std::string_view key, std::string_view value) {
    if (m_items >= m_limits.maxItems) {
        m_error = Error::TooManyItems;
        return;
    }
    const std::size_t body = m_out.size() - m_start - kLengthPrefixSize;
    if (body + key.size() + value.size() + 2 > m_limits.maxFrameSize) {
        m_error = Error::FrameTooLarge;
        return;
    }
    // One growth of the buffer, then the bytes copied in place.
    const std::size_t at = m_out.size();
    m_out.resize(at + key.size() + value.size() + 2);
    char* p = m_out.data() + at;
    std::memcpy(p, key.data(), key.size());
    p += key.size();
    *p++ = '=';
    if (!value.empty())
        std::memcpy(p, value.data(), value.size());
    p[value.size()] = '\x01';
    ++m_items;
}

Error FrameBuilder::Finish() {
    if (m_finished)
        return m_error;
    if (m_error == Error::None && m_items == 0)
        m_error = Error::EmptyFrame;
    if (m_error != Error::None) {
        m_out.resize(m_start);
        m_finished = true;
        return m_error;
    }
    const auto length = static_cast<std::uint32_t>(m_out.size() - m_start - kLengthPrefixSize);
    const unsigned char prefix[kLengthPrefixSize] = {
        static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
        static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
    std::memcpy(m_out.data() + m_start, prefix, kLengthPrefixSize);
    m_finished = true;
    return Error::None;
}

} // namespace orvo::proto
