// CString: a byte string holding GBK (code page 936) text, with the MFC operations the module uses.
// Lengths and positions count bytes; comparisons are byte for byte. Conversion to UTF-8 happens only at
// the edges (display, logs, the database); see GbkText.h.
#pragma once

#include "platform/Types.h"

#include <cstdarg>
#include <string>
#include <string_view>

class CString {
public:
    CString() = default;
    CString(const char* gbk) : m_s(gbk ? gbk : "") {} // NOLINT(google-explicit-constructor): MFC idiom
    CString(const char* gbk, int length) : m_s(gbk ? std::string(gbk, length > 0 ? length : 0) : "") {}
    CString(std::string_view gbk) : m_s(gbk) {}                  // NOLINT(google-explicit-constructor)
    CString(std::string&& gbk) noexcept : m_s(std::move(gbk)) {} // NOLINT(google-explicit-constructor)
    CString(char ch, int repeat = 1) : m_s(repeat > 0 ? static_cast<size_t>(repeat) : 0, ch) {}

    // Text given in UTF-8 (source literals, Qt, the database) turned into GBK. Characters GBK cannot hold
    // become '?'.
    static CString FromUtf8(std::string_view utf8);
    // The GBK bytes as UTF-8; invalid sequences become U+FFFD.
    std::string ToUtf8() const;

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    char GetAt(int i) const { return m_s[static_cast<size_t>(i)]; }
    char operator[](int i) const { return m_s[static_cast<size_t>(i)]; }
    void SetAt(int i, char ch) { m_s[static_cast<size_t>(i)] = ch; }
    operator LPCTSTR() const { return m_s.c_str(); } // NOLINT(google-explicit-constructor): MFC idiom
    LPCTSTR GetString() const { return m_s.c_str(); }
    const std::string& str() const { return m_s; }
    std::string_view view() const { return m_s; }

    // -1 when not found; start is a byte index.
    int Find(LPCTSTR sub, int start = 0) const;
    int Find(char ch, int start = 0) const;
    int ReverseFind(char ch) const;

    CString Left(int count) const;
    CString Right(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;

    // White space is blank, tab, CR, LF, VT and FF.
    CString& Trim();
    CString& TrimLeft();
    CString& TrimRight();
    CString& Trim(LPCTSTR chars);
    CString& TrimLeft(LPCTSTR chars);
    CString& TrimRight(LPCTSTR chars);

    // Upper/lower-case ASCII letters only; the two bytes of a GBK character are never touched (a trail byte
    // may look like an ASCII letter).
    CString& MakeUpper();
    CString& MakeLower();

    int Replace(LPCTSTR from, LPCTSTR to);

    // printf formats; "%0Ns" pads the text on the left with '0' to N bytes, as the module expects. GCC's
    // format check flags "%0Ns" (C leaves it undefined); wrap such a call in
    // #pragma GCC diagnostic ignored "-Wformat".
    void Format(LPCTSTR format, ...) __attribute__((format(printf, 2, 3)));
    void FormatV(LPCTSTR format, va_list args);
    void AppendFormat(LPCTSTR format, ...) __attribute__((format(printf, 2, 3)));

    int Compare(LPCTSTR other) const;
    int CompareNoCase(LPCTSTR other) const;

    CString& operator=(LPCTSTR gbk) {
        m_s = gbk ? gbk : "";
        return *this;
    }
    CString& operator+=(const CString& s) {
        m_s += s.m_s;
        return *this;
    }
    CString& operator+=(LPCTSTR s) {
        if (s)
            m_s += s;
        return *this;
    }
    CString& operator+=(char ch) {
        m_s += ch;
        return *this;
    }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, LPCTSTR b) { return CString(a.m_s + (b ? b : "")); }
    friend CString operator+(LPCTSTR a, const CString& b) { return CString((a ? a : "") + b.m_s); }
    friend CString operator+(const CString& a, char b) { return CString(a.m_s + b); }

    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, LPCTSTR b) { return a.m_s == (b ? b : ""); }
    friend bool operator==(LPCTSTR a, const CString& b) { return b == a; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, LPCTSTR b) { return !(a == b); }
    friend bool operator!=(LPCTSTR a, const CString& b) { return !(b == a); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_s < b.m_s; }

private:
    std::string m_s;
};

// A UTF-8 source literal as GBK, converted once per call site: GBK("扩展委托查询").
#define GBK(utf8_literal)                                                                                    \
    ([]() -> const CString& {                                                                                \
        static const CString converted = CString::FromUtf8(utf8_literal);                                    \
        return converted;                                                                                    \
    }())
