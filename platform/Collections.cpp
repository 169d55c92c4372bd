#include "platform/Collections.h"

#include <algorithm>

BOOL CMapStringToPtr::Lookup(LPCTSTR key, void*& value) const {
    const auto it = m_map.find(std::string_view(key ? key : ""));
    if (it == m_map.end())
        return FALSE;
    value = it->second;
    return TRUE;
}

void CMapStringToPtr::SetAt(LPCTSTR key, void* value) {
    m_map[key ? key : ""] = value;
}

void*& CMapStringToPtr::operator[](LPCTSTR key) {
    return m_map[key ? key : ""];
}

BOOL CMapStringToPtr::RemoveKey(LPCTSTR key) {
    const auto it = m_map.find(std::string_view(key ? key : ""));
    if (it == m_map.end())
        return FALSE;
    m_map.erase(it);
    return TRUE;
}

POSITION CMapStringToPtr::GetStartPosition() const {
    return m_map.empty() ? nullptr : static_cast<POSITION>(&*m_map.begin());
}

void CMapStringToPtr::GetNextAssoc(POSITION& position, CString& key, void*& value) const {
    if (!position || position == BEFORE_START_POSITION) {
        position = GetStartPosition();
        if (!position)
            return;
    }
    const auto* entry = static_cast<const std::pair<const std::string, void*>*>(position);
    key = CString(std::string_view(entry->first));
    value = entry->second;
    auto it = m_map.find(entry->first);
    position = (it == m_map.end() || ++it == m_map.end()) ? nullptr : static_cast<POSITION>(&*it);
}

void CDWordArray::RemoveAt(int index, int count) {
    if (!valid(index) || count <= 0)
        return;
    const size_t first = static_cast<size_t>(index);
    const size_t last = std::min(m_data.size(), first + static_cast<size_t>(count));
    m_data.erase(m_data.begin() + static_cast<std::ptrdiff_t>(first),
                 m_data.begin() + static_cast<std::ptrdiff_t>(last));
}
