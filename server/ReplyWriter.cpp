#include "server/ReplyWriter.h"

#include "protocol/Header.h"
#include "server/Gbk.h"

#include <algorithm>
#include <cstring>

namespace orvo::server {

ReplyWriter::ReplyWriter(ByteSink& sink, std::uint32_t seq) : m_sink(sink), m_seq(seq) {
    m_buffer.reserve(kFlushBytes + 4096);
}

std::string_view ReplyWriter::wireValue(std::string_view utf8Value) {
    if (isAscii(utf8Value) && utf8Value.find('\x01') == std::string_view::npos)
        return utf8Value;
    const bool cacheable = utf8Value.size() <= kGbkCacheValueBytes;
    if (cacheable) {
        m_scratch.assign(utf8Value);
        auto it = m_gbkCache.find(m_scratch);
        if (it != m_gbkCache.end())
            return it->second;
    }
    utf8ToGbk(utf8Value, m_scratch);
    // 0x01 ends an item on the wire; a stored text holding one must not break the frame.
    std::replace(m_scratch.begin(), m_scratch.end(), '\x01', '?');
    if (cacheable && m_gbkCache.size() < kGbkCacheEntries)
        return m_gbkCache.emplace(std::string(utf8Value), m_scratch).first->second;
    return m_scratch;
}

void ReplyWriter::beginRow() {
    m_row.emplace(m_buffer);
    proto::AddRowHead(*m_row, m_seq);
}

void ReplyWriter::add(std::uint32_t tag, std::string_view utf8Value) {
    m_row->Add(tag, wireValue(utf8Value));
}

void ReplyWriter::addNamed(std::string_view column, std::string_view utf8Value) {
    m_row->AddNamed(column, wireValue(utf8Value));
}

bool ReplyWriter::endRow() {
    if (m_row->Finish() == proto::Error::None)
        ++m_rows;
    m_row.reset();
    if (m_buffer.size() >= kFlushBytes)
        return flush();
    return !m_failed;
}

bool ReplyWriter::end(int status, std::string_view utf8Text) {
    m_row.reset();
    m_ended = true;
    std::string text = utf8ToGbk(utf8Text);
    std::replace(text.begin(), text.end(), '\x01', '?');
    proto::AppendEnd(m_buffer, m_seq, status, text, m_rows);
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
