// Framework-shaped collections: CMapStringToPtr (text key -> pointer, with POSITION iteration) and
// CDWordArray (growable array of 32-bit numbers).
#pragma once

#include "platform/CString.h"

#include <map>
#include <string>
#include <vector>

// Opaque iteration position; null means "no further entry".
using POSITION = const void*;
#define BEFORE_START_POSITION (reinterpret_cast<POSITION>(-1)) // NOLINT(performance-no-int-to-ptr)

class CMapStringToPtr {
public:
    CMapStringToPtr() = default;
    CMapStringToPtr(const CMapStringToPtr&) = default;
    CMapStringToPtr& operator=(const CMapStringToPtr&) = default;

    // Keys compare byte for byte. The map never owns the pointers it holds.
    BOOL Lookup(LPCTSTR key, void*& value) const;
    void SetAt(LPCTSTR key, void* value);
    void*& operator[](LPCTSTR key);
    BOOL RemoveKey(LPCTSTR key);
    void RemoveAll() { m_map.clear(); }
    int GetCount() const { return static_cast<int>(m_map.size()); }
    int GetSize() const { return GetCount(); }
    BOOL IsEmpty() const { return m_map.empty(); }

    // Iteration in key order: POSITION pos = map.GetStartPosition(); while (pos) map.GetNextAssoc(pos, k, v);
    // Changing the map during the walk ends the walk's validity, as in the framework.
    POSITION GetStartPosition() const;
    void GetNextAssoc(POSITION& position, CString& key, void*& value) const;

private:
    std::map<std::string, void*, std::less<>> m_map;
};

class CDWordArray {
public:
    CDWordArray() = default;

    int GetSize() const { return static_cast<int>(m_data.size()); }
    int GetCount() const { return GetSize(); }
    BOOL IsEmpty() const { return m_data.empty(); }
    int GetUpperBound() const { return GetSize() - 1; }
    // Out-of-range reads give 0 and writes do nothing: a bad index never touches foreign memory.
    DWORD GetAt(int index) const { return valid(index) ? m_data[static_cast<size_t>(index)] : 0; }
    void SetAt(int index, DWORD value) {
        if (valid(index))
            m_data[static_cast<size_t>(index)] = value;
    }
    DWORD operator[](int index) const { return GetAt(index); }
    // In range: the element. Out of range: a scratch value, so that a bad index never writes elsewhere.
    DWORD& operator[](int index) {
        if (valid(index))
            return m_data[static_cast<size_t>(index)];
        m_scratch = 0;
        return m_scratch;
    }
    int Add(DWORD value) {
        m_data.push_back(value);
        return GetSize() - 1;
    }
    void SetSize(int size) { m_data.resize(size > 0 ? static_cast<size_t>(size) : 0); }
    void RemoveAt(int index, int count = 1);
    void RemoveAll() { m_data.clear(); }
    const DWORD* GetData() const { return m_data.data(); }

private:
    bool valid(int index) const { return index >= 0 && static_cast<size_t>(index) < m_data.size(); }
    std::vector<DWORD> m_data;
    DWORD m_scratch = 0;
};
