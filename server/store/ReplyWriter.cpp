#include "server/store/ReplyWriter.h"

#include "protocol/Header.h"
#include "server/common/Gbk.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace orvo::server {

ReplyWriter::ReplyWriter(ByteSink& sink, std::uint32_t seq) : m_sink(sink), m_seq(seq) {
    m_buffer.reserve(kFlushBytes + 4096);
}

bool ReplyWriter::isPlainWire(std::string_view text) {
    // Branch-free over the bytes so the compiler can vectorise it: one pass answers both questions.
    unsigned char odd = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        odd |= static_cast<unsigned char>((byte >= 0x80) | (byte == 0x01));
    }
    return odd == 0;
}

void ReplyWriter::toWire(std::string_view utf8, std::string& out) {
    utf8ToGbk(utf8, out);
    std::replace(out.begin(), out.end(), '\x01', '?');
}

std::string_view ReplyWriter::wireValue(std::string_view utf8Value) {
    if (isPlainWire(utf8Value))
        return utf8Value;
    const bool cacheable = utf8Value.size() <= kGbkCacheValueBytes;
    if (cacheable) {
        const auto it = m_gbkCache.find(utf8Value);
        if (it != m_gbkCache.end())
            return it->second;
    }
    // 0x01 ends an item on the wire; a stored text holding one must not break the frame.
    toWire(utf8Value, m_scratch);
    if (cacheable && m_gbkCache.size() < kGbkCacheEntries)
        return m_gbkCache.emplace(std::string(utf8Value), m_scratch).first->second;
    return m_scratch;
}

void ReplyWriter::beginRow() {
    m_rowStart = m_buffer.size();
    m_row.emplace(m_buffer);
    proto::AddRowHead(*m_row, m_seq);
}

void ReplyWriter::add(std::uint32_t tag, std::string_view utf8Value) {
    char digits[16];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, tag);
    (void)ec; // a uint32 always fits
    if (tag == 0 || tag > proto::kMaxTag)
        m_row->Add(tag, utf8Value); // refused by the builder as before
    else
        m_row->AddChecked(std::string_view(digits, static_cast<std::size_t>(end - digits)),
                          wireValue(utf8Value));
}

void ReplyWriter::addText(std::string_view tagDigits, std::string_view utf8Value) {
    m_row->AddChecked(tagDigits, wireValue(utf8Value));
}

void ReplyWriter::addInteger(std::string_view tagDigits, std::int64_t value) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec; // an int64 always fits
    m_row->AddChecked(tagDigits, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void ReplyWriter::addWire(std::string_view tagDigits, std::string_view wireValue) {
    m_row->AddChecked(tagDigits, wireValue);
}

void ReplyWriter::encodeText(std::string& items, std::string_view tagDigits, std::string_view utf8Value) {
    encodeWire(items, tagDigits, wireValue(utf8Value));
}

void ReplyWriter::encodeInteger(std::string& items, std::string_view tagDigits, std::int64_t value) {
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec; // an int64 always fits
    encodeWire(items, tagDigits, std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void ReplyWriter::encodeWire(std::string& items, std::string_view tagDigits, std::string_view wireValue) {
    items.append(tagDigits).append(1, '=').append(wireValue).append(1, '\x01');
}

const std::string& ReplyWriter::rowHead() {
    if (m_rowHead.empty()) {
        std::string frame;
        proto::FrameBuilder head(frame);
        proto::AddRowHead(head, m_seq);
        head.Finish();
        m_rowHead = frame.substr(proto::kLengthPrefixSize);
    }
    return m_rowHead;
}

void ReplyWriter::refuseRow(std::string_view items) {
    constexpr std::size_t kKeyBytes = 64;
    if (m_refusedRows++ == 0) {
        const std::size_t end = items.find('\x01');
        m_refusedRowKey.assign(items.substr(0, std::min({end, items.size(), kKeyBytes})));
    }
}

void ReplyWriter::addEncodedRow(std::string_view items) {
    const std::size_t length = rowHead().size() + items.size();
    if (length > proto::kMaxFrameSize) {
        refuseRow(items);
        return;
    }
    const unsigned char prefix[proto::kLengthPrefixSize] = {
        static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
        static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
    m_buffer.append(reinterpret_cast<const char*>(prefix), sizeof prefix).append(m_rowHead).append(items);
    ++m_rows;
    if (m_record)
        record(items);
}

void ReplyWriter::record(std::string_view items) {
    const std::size_t length = items.size();
    const char prefix[proto::kLengthPrefixSize] = {static_cast<char>(length >> 24),
                                                   static_cast<char>(length >> 16),
                                                   static_cast<char>(length >> 8), static_cast<char>(length)};
    m_record->append(prefix, sizeof prefix).append(items);
}

bool ReplyWriter::addRecordedRows(std::string_view recorded) {
    while (recorded.size() >= proto::kLengthPrefixSize) {
        const auto byte = [&](std::size_t i) {
            return static_cast<std::size_t>(static_cast<unsigned char>(recorded[i]));
        };
        const std::size_t length = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
        recorded.remove_prefix(proto::kLengthPrefixSize);
        addEncodedRow(recorded.substr(0, length));
        recorded.remove_prefix(std::min(length, recorded.size()));
        if (!flushIfFull())
            return false;
    }
    return true;
}

bool ReplyWriter::flushIfFull() {
    if (m_buffer.size() >= kFlushBytes && !flush())
        return false;
    return !m_failed && m_refusedRows == 0;
}

void ReplyWriter::addNamed(std::string_view column, std::string_view utf8Value) {
    m_row->AddNamed(column, wireValue(utf8Value));
}

bool ReplyWriter::endRow() {
    if (m_row->error() != proto::Error::None) {
        // The items added before the one that did not fit are still in the buffer: the first names the row.
        const std::size_t itemsAt = m_rowStart + proto::kLengthPrefixSize + rowHead().size();
        refuseRow(itemsAt < m_buffer.size() ? std::string_view(m_buffer).substr(itemsAt)
                                            : std::string_view());
    }
    if (m_row->Finish() == proto::Error::None) {
        ++m_rows;
        if (m_record) // the items follow the row's length and head
            record(
                std::string_view(m_buffer).substr(m_rowStart + proto::kLengthPrefixSize + rowHead().size()));
    }
    m_row.reset();
    return flushIfFull();
}

bool ReplyWriter::end(int status, std::string_view utf8Text) {
    m_row.reset();
    m_ended = true;
    std::string text;
    toWire(utf8Text, text);
    const bool ok = status == proto::kStatusOk;
    if (std::none_of(m_endItems.begin(), m_endItems.end(),
                     [ok](const EndItem& item) { return ok || item.onFailure; })) {
        proto::AppendEnd(m_buffer, m_seq, status, text, m_rows);
    } else {
        proto::FrameBuilder builder(m_buffer);
        builder.Add(proto::kTagType, "E").Add(proto::kTagSeq, m_seq).Add(proto::kTagStatus, status);
        if (!text.empty())
            builder.Add(proto::kTagText, text);
        builder.Add(proto::kTagRows, static_cast<long long>(m_rows));
        for (const EndItem& item : m_endItems)
            if (ok || item.onFailure)
                builder.Add(item.tag, item.value);
        if (builder.Finish() != proto::Error::None)
            proto::AppendEnd(m_buffer, m_seq, status, text, m_rows);
    }
    return flush();
}

bool ReplyWriter::flush() {
    if (m_failed)
        return false;
    if (!m_buffer.empty() && !m_sink.write(m_buffer))
        m_failed = true;
    m_buffer.clear();
    return !m_failed;
}

} // namespace orvo::server
