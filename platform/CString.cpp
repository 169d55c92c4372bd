#include "platform/CString.h"

#include "platform/GbkText.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <sys/types.h>

namespace {

char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Position of needle in text at a character boundary at or after start, or npos.
std::size_t findAtBoundary(std::string_view text, std::string_view needle, std::size_t start) {
    if (needle.empty())
        return start <= text.size() ? start : std::string_view::npos;
    for (std::size_t pos = 0; pos + needle.size() <= text.size(); pos += orvo::GbkCharLength(text, pos))
        if (pos >= start && text.compare(pos, needle.size(), needle) == 0)
            return pos;
    return std::string_view::npos;
}

// One-byte characters only: a two-byte GBK character is never taken apart to match a single byte.
bool inSet(std::string_view text, std::size_t pos, std::size_t length, LPCTSTR chars) {
    return length == 1 && std::strchr(chars, text[pos]) != nullptr && text[pos] != '\0';
}

// ---- printf with the "%0Ns" extension ------------------------------------------------------------------

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename T> void appendOne(std::string& out, const std::string& spec, T value) {
    char buffer[256];
    const int needed = std::snprintf(buffer, sizeof buffer, spec.c_str(), value);
    if (needed < 0)
        return;
    if (static_cast<std::size_t>(needed) < sizeof buffer) {
        out.append(buffer, static_cast<std::size_t>(needed));
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(needed) + 1);
    std::snprintf(out.data() + at, static_cast<std::size_t>(needed) + 1, spec.c_str(), value);
    out.resize(at + static_cast<std::size_t>(needed));
}
#pragma GCC diagnostic pop

enum class Length { None, Char, Short, Long, LongLong, IntMax, Size, PtrDiff, LongDouble };

// Formats like vsnprintf, one conversion at a time so that "%0Ns" can pad text with '0' on the left (C
// leaves the '0' flag undefined for %s). A '*' width or precision is read from the arguments. "%n" writes
// nothing; an unknown conversion is copied as it stands without taking an argument.
std::string formatText(const char* format, va_list argsIn) {
    std::string out;
    if (!format)
        return out;
    va_list args;
    va_copy(args, argsIn);
    const char* p = format;
    while (*p) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            out.append(p);
            break;
        }
        out.append(p, static_cast<std::size_t>(percent - p));
        p = percent + 1;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        std::string flags;
        while (*p && std::strchr("-+ #0", *p))
            flags += *p++;
        int width = -1;
        if (*p == '*') {
            width = va_arg(args, int);
            if (width < 0) {
                flags += '-';
                width = width == INT_MIN ? INT_MAX : -width;
            }
            ++p;
        } else {
            while (std::isdigit(static_cast<unsigned char>(*p)))
                width = (width < 0 ? 0 : width) * 10 + (*p++ - '0') % 100000;
        }
        int precision = -1;
        if (*p == '.') {
            ++p;
            precision = 0;
            if (*p == '*') {
                precision = va_arg(args, int);
                ++p;
            } else {
                while (std::isdigit(static_cast<unsigned char>(*p)))
                    precision = precision * 10 + (*p++ - '0') % 100000;
            }
        }
        Length length = Length::None;
        std::string lengthText;
        if (p[0] == 'h' && p[1] == 'h')
            length = Length::Char, lengthText = "hh", p += 2;
        else if (p[0] == 'l' && p[1] == 'l')
            length = Length::LongLong, lengthText = "ll", p += 2;
        else if (*p == 'h')
            length = Length::Short, lengthText = "h", ++p;
        else if (*p == 'l')
            length = Length::Long, lengthText = "l", ++p;
        else if (*p == 'j')
            length = Length::IntMax, lengthText = "j", ++p;
        else if (*p == 'z')
            length = Length::Size, lengthText = "z", ++p;
        else if (*p == 't')
            length = Length::PtrDiff, lengthText = "t", ++p;
        else if (*p == 'L')
            length = Length::LongDouble, lengthText = "L", ++p;
        const char conversion = *p;
        if (conversion == '\0') {
            out.append(percent); // a dangling '%' stays as text
            break;
        }
        ++p;
        // Widths and precisions are bounded so that one conversion cannot ask for gigabytes.
        if (width > 100000)
            width = 100000;
        if (precision > 100000)
            precision = 100000;
        std::string spec(1, '%');
        spec += flags;
        if (width >= 0)
            spec += std::to_string(width);
        if (precision >= 0) {
            spec += '.';
            spec += std::to_string(precision);
        }
        spec += lengthText;
        spec += conversion;
        switch (conversion) {
        case 'd':
        case 'i':
            switch (length) { // NOLINT(bugprone-branch-clone): the types coincide only on some platforms
            case Length::Long:
                appendOne(out, spec, va_arg(args, long));
                break;
            case Length::LongLong:
                appendOne(out, spec, va_arg(args, long long));
                break;
            case Length::IntMax:
                appendOne(out, spec, va_arg(args, intmax_t));
                break;
            case Length::Size:
                appendOne(out, spec, va_arg(args, ssize_t));
                break;
            case Length::PtrDiff:
                appendOne(out, spec, va_arg(args, ptrdiff_t));
                break;
            default:
                appendOne(out, spec, va_arg(args, int));
                break;
            }
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            switch (length) { // NOLINT(bugprone-branch-clone): the types coincide only on some platforms
            case Length::Long:
                appendOne(out, spec, va_arg(args, unsigned long));
                break;
            case Length::LongLong:
                appendOne(out, spec, va_arg(args, unsigned long long));
                break;
            case Length::IntMax:
                appendOne(out, spec, va_arg(args, uintmax_t));
                break;
            case Length::Size:
                appendOne(out, spec, va_arg(args, size_t));
                break;
            case Length::PtrDiff:
                appendOne(out, spec, va_arg(args, ptrdiff_t));
                break;
            default:
                appendOne(out, spec, va_arg(args, unsigned int));
                break;
            }
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == Length::LongDouble)
                appendOne(out, spec, va_arg(args, long double));
            else
                appendOne(out, spec, va_arg(args, double));
            break;
        case 'c':
            if (length == Length::Long)
                appendOne(out, spec, va_arg(args, wint_t));
            else
                appendOne(out, spec, va_arg(args, int));
            break;
        case 'p':
            appendOne(out, spec, va_arg(args, void*));
            break;
        case 'n':
            (void)va_arg(args, void*);
            break;
        case 's': {
            if (length == Length::Long) {
                appendOne(out, spec, va_arg(args, const wchar_t*));
                break;
            }
            const char* text = va_arg(args, const char*);
            if (!text)
                text = "(null)";
            const bool zeroPad = flags.find('0') != std::string::npos && flags.find('-') == std::string::npos;
            std::string_view value(text);
            if (precision >= 0 && static_cast<std::size_t>(precision) < value.size())
                value = value.substr(0, static_cast<std::size_t>(precision));
            const std::size_t padding =
                width > 0 && static_cast<std::size_t>(width) > value.size() ? width - value.size() : 0;
            const bool leftAlign = flags.find('-') != std::string::npos;
            if (!leftAlign)
                out.append(padding, zeroPad ? '0' : ' ');
            out.append(value);
            if (leftAlign)
                out.append(padding, ' ');
            break;
        }
        default:
            out.append(percent, static_cast<std::size_t>(p - percent));
            break;
        }
    }
    va_end(args);
    return out;
}

} // namespace

CString CString::FromUtf8(std::string_view utf8) {
    return CString(orvo::Utf8ToGbk(utf8));
}

std::string CString::ToUtf8() const {
    return orvo::GbkToUtf8(m_s);
}

int CString::Find(LPCTSTR sub, int start) const {
    if (!sub || start < 0 || static_cast<std::size_t>(start) > m_s.size())
        return -1;
    const std::size_t pos = findAtBoundary(m_s, sub, static_cast<std::size_t>(start));
    return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(char ch, int start) const {
    if (ch == '\0')
        return -1;
    const char needle[2] = {ch, '\0'};
    return Find(needle, start);
}

int CString::ReverseFind(char ch) const {
    int found = -1;
    for (std::size_t pos = 0; pos < m_s.size(); pos += orvo::GbkCharLength(m_s, pos))
        if (m_s[pos] == ch && orvo::GbkCharLength(m_s, pos) == 1)
            found = static_cast<int>(pos);
    return found;
}

CString CString::Left(int count) const {
    if (count <= 0)
        return CString();
    return CString(m_s.substr(0, static_cast<std::size_t>(count)));
}

CString CString::Right(int count) const {
    if (count <= 0)
        return CString();
    const std::size_t n = static_cast<std::size_t>(count);
    return n >= m_s.size() ? *this : CString(m_s.substr(m_s.size() - n));
}

CString CString::Mid(int first) const {
    if (first < 0)
        first = 0;
    if (static_cast<std::size_t>(first) >= m_s.size())
        return CString();
    return CString(m_s.substr(static_cast<std::size_t>(first)));
}

CString CString::Mid(int first, int count) const {
    if (first < 0)
        first = 0;
    if (count <= 0 || static_cast<std::size_t>(first) >= m_s.size())
        return CString();
    return CString(m_s.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
}

CString& CString::Trim() {
    return TrimRight().TrimLeft();
}

CString& CString::TrimLeft() {
    return TrimLeft(" \t\r\n\v\f");
}

CString& CString::TrimRight() {
    return TrimRight(" \t\r\n\v\f");
}

CString& CString::Trim(LPCTSTR chars) {
    return TrimRight(chars).TrimLeft(chars);
}

CString& CString::TrimLeft(LPCTSTR chars) {
    if (!chars)
        return *this;
    std::size_t pos = 0;
    while (pos < m_s.size() && inSet(m_s, pos, orvo::GbkCharLength(m_s, pos), chars))
        ++pos;
    m_s.erase(0, pos);
    return *this;
}

CString& CString::TrimRight(LPCTSTR chars) {
    if (!chars)
        return *this;
    // Walk forward to know where characters start; the trailing run of matching one-byte characters goes.
    std::size_t keep = 0;
    for (std::size_t pos = 0; pos < m_s.size();) {
        const std::size_t length = orvo::GbkCharLength(m_s, pos);
        if (!inSet(m_s, pos, length, chars))
            keep = pos + length;
        pos += length;
    }
    m_s.resize(keep);
    return *this;
}

CString& CString::MakeUpper() {
    for (std::size_t pos = 0; pos < m_s.size(); pos += orvo::GbkCharLength(m_s, pos))
        m_s[pos] = asciiUpper(m_s[pos]);
    return *this;
}

CString& CString::MakeLower() {
    for (std::size_t pos = 0; pos < m_s.size(); pos += orvo::GbkCharLength(m_s, pos))
        m_s[pos] = asciiLower(m_s[pos]);
    return *this;
}

int CString::Replace(LPCTSTR from, LPCTSTR to) {
    if (!from || !*from)
        return 0;
    const std::string_view needle(from);
    const std::string_view replacement(to ? to : "");
    std::string result;
    int count = 0;
    std::size_t pos = 0;
    while (pos < m_s.size()) {
        if (m_s.compare(pos, needle.size(), needle) == 0) {
            result += replacement;
            pos += needle.size();
            ++count;
            continue;
        }
        const std::size_t length = orvo::GbkCharLength(m_s, pos);
        result.append(m_s, pos, length);
        pos += length;
    }
    if (count > 0)
        m_s = std::move(result);
    return count;
}

void CString::Format(LPCTSTR format, ...) {
    va_list args;
    va_start(args, format);
    m_s = formatText(format, args);
    va_end(args);
}

void CString::FormatV(LPCTSTR format, va_list args) {
    m_s = formatText(format, args);
}

void CString::AppendFormat(LPCTSTR format, ...) {
    va_list args;
    va_start(args, format);
    m_s += formatText(format, args);
    va_end(args);
}

int CString::Compare(LPCTSTR other) const {
    const int rc = std::string_view(m_s).compare(other ? other : "");
    return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
}

int CString::CompareNoCase(LPCTSTR other) const {
    const std::string_view a(m_s);
    const std::string_view b(other ? other : "");
    // Fold ASCII letters that start a character; trail bytes compare as they are.
    std::size_t i = 0;
    while (i < a.size() && i < b.size()) {
        const std::size_t length = orvo::GbkCharLength(a, i);
        for (std::size_t k = 0; k < length && i + k < b.size(); ++k) {
            const auto ca = static_cast<unsigned char>(k == 0 ? asciiLower(a[i]) : a[i + k]);
            const auto cb = static_cast<unsigned char>(k == 0 ? asciiLower(b[i]) : b[i + k]);
            if (ca != cb)
                return ca < cb ? -1 : 1;
        }
        i += length;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}
