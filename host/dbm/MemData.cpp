// CMemData: the rows of a record set and the cursor over them.
#include "host/dbm/MemDataImpl.h"

#include <algorithm>
#include <memory>

void ReleaseSpareRecordMemory() {
    orvo::dbm::ReleaseSpareRowChunks();
}

// ---- CMemData ----------------------------------------------------------------------------------------

CMemData::CMemData() : m_impl(std::make_unique<Impl>()) {}
CMemData::~CMemData() = default;
CMemData::CMemData(const CMemData& other) : m_impl(std::make_unique<Impl>(*other.m_impl)) {}

CMemData& CMemData::operator=(const CMemData& other) {
    if (this != &other)
        m_impl = std::make_unique<Impl>(*other.m_impl);
    return *this;
}

void CMemData::Swap(CMemData& other) noexcept {
    m_impl.swap(other.m_impl);
}

void* CMemData::GoTop() {
    m_impl->cursor = 0;
    m_impl->bof = m_impl->rows.empty();
    return m_impl->current();
}

void* CMemData::GoBottom() {
    m_impl->cursor = m_impl->rows.empty() ? 0 : m_impl->rows.size() - 1;
    m_impl->bof = m_impl->rows.empty();
    return m_impl->current();
}

void* CMemData::Skip(int count) {
    Impl& d = *m_impl;
    const long target = static_cast<long>(d.cursor) + count;
    if (d.rows.empty() || target < 0) {
        d.cursor = 0; // on the first row (if any), flagged as having tried to move before it
        d.bof = true;
    } else {
        d.cursor = static_cast<std::size_t>(target) >= d.rows.size() ? d.rows.size()
                                                                     : static_cast<std::size_t>(target);
        d.bof = false;
    }
    return d.current();
}

void* CMemData::Go(long row) {
    Impl& d = *m_impl;
    d.cursor = row >= 0 && static_cast<std::size_t>(row) < d.rows.size() ? static_cast<std::size_t>(row)
                                                                         : d.rows.size();
    d.bof = d.rows.empty();
    return d.current();
}

BOOL CMemData::Eof() const {
    return m_impl->cursor >= m_impl->rows.size();
}
BOOL CMemData::Bof() const {
    return m_impl->bof || m_impl->rows.empty();
}
long CMemData::GetRecNo() const {
    return static_cast<long>(m_impl->cursor);
}
long CMemData::GetRecordCount() const {
    return static_cast<long>(m_impl->rows.size());
}

void* CMemData::Append(void* /*unused*/, int count) {
    Impl& d = *m_impl;
    if (count <= 0)
        return d.current();
    for (int i = 0; i < count; ++i)
        d.rows.push_back(d.newRow());
    d.changed();
    d.cursor = d.rows.size() - 1;
    d.bof = false;
    return d.current();
}

void CMemData::Delete() {
    Impl& d = *m_impl;
    if (d.cursor >= d.rows.size())
        return;
    d.freeRow(d.rows[d.cursor]);
    d.rows.erase(d.rows.begin() + static_cast<std::ptrdiff_t>(d.cursor));
    d.changed();
    d.bof = d.rows.empty(); // the cursor index now names the following row, or Eof
}

void CMemData::Zap() {
    m_impl->clearRows();
    m_impl->changed();
}

void CMemData::DeleteRows(std::span<const long> rows) {
    Impl& d = *m_impl;
    if (rows.empty())
        return;
    const std::size_t oldCursor = d.cursor;
    std::size_t newCursor = d.rows.size();
    std::size_t kept = 0;
    auto next = rows.begin();
    for (std::size_t r = 0; r < d.rows.size(); ++r) {
        while (next != rows.end() && *next < static_cast<long>(r))
            ++next;
        if (next != rows.end() && *next == static_cast<long>(r)) {
            d.freeRow(d.rows[r]);
            continue;
        }
        if (r >= oldCursor && newCursor == d.rows.size())
            newCursor = kept; // the current row, or the first after it that stays
        d.rows[kept++] = d.rows[r];
    }
    d.rows.resize(kept);
    d.cursor = std::min(newCursor, kept);
    d.bof = d.rows.empty();
    d.changed();
}

unsigned long long CMemData::GetChangeStamp() const {
    return m_impl->stamp;
}
