#include "host/cfg/OrvoIni.h"

#include "platform/GbkText.h"

#include <fstream>
#include <map>
#include <string>

namespace {

constexpr std::streamsize kMaxFileBytes = 4 << 20; // a configuration file, not a data file

// Lower-cases ASCII letters that start a character; the trail byte of a GBK character is left alone.
std::string foldAscii(std::string_view text) {
    std::string folded(text);
    for (std::size_t i = 0; i < folded.size(); i += orvo::GbkCharLength(folded, i))
        if (folded[i] >= 'A' && folded[i] <= 'Z')
            folded[i] = static_cast<char>(folded[i] - 'A' + 'a');
    return folded;
}

std::string_view trimBlanks(std::string_view text) {
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A ';' or '#' that starts the line or follows a blank starts a comment; inside a value ("a#b") it is text.
std::string_view stripComment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i)
        if ((line[i] == ';' || line[i] == '#') && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t'))
            return line.substr(0, i);
    return line;
}

} // namespace

struct COrvoIni::Impl {
    std::string path;
    // folded section -> folded key -> GBK value
    std::map<std::string, std::map<std::string, std::string>> sections;

    void parse(std::string_view gbkText) {
        sections.clear();
        std::string current;
        std::size_t start = 0;
        while (start < gbkText.size()) {
            std::size_t end = gbkText.find('\n', start);
            if (end == std::string_view::npos)
                end = gbkText.size();
            const std::string_view line = trimBlanks(stripComment(gbkText.substr(start, end - start)));
            start = end + 1;
            if (line.empty())
                continue;
            if (line.front() == '[') {
                // "[name]"; the last byte is checked, since ']' may also be a GBK trail byte inside the name.
                if (line.size() >= 2 && line.back() == ']')
                    current = foldAscii(trimBlanks(line.substr(1, line.size() - 2)));
                continue;
            }
            const std::size_t equals = line.find('=');
            if (equals == std::string_view::npos)
                continue; // not a key line: ignored, as INI readers do
            const std::string key = foldAscii(trimBlanks(line.substr(0, equals)));
            if (key.empty())
                continue;
            // The first definition wins, as with the platform's profile readers.
            sections[current].emplace(key, std::string(trimBlanks(line.substr(equals + 1))));
        }
    }
};

COrvoIni::COrvoIni() : m_impl(std::make_unique<Impl>()) {}

COrvoIni::COrvoIni(const std::string& path) : COrvoIni() {
    Load(path);
}

COrvoIni::~COrvoIni() = default;

bool COrvoIni::Load(const std::string& path) {
    m_impl->path = path;
    m_impl->sections.clear();
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file)
        return false;
    const std::streamsize size = file.tellg();
    if (size < 0 || size > kMaxFileBytes)
        return false; // unreadable or too large: an empty configuration rather than half of one
    std::string bytes(static_cast<std::size_t>(size), '\0');
    file.seekg(0);
    if (!file.read(bytes.data(), size))
        return false;
    std::string_view text(bytes);
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    // The file is UTF-8; an older file saved in GBK is taken as it is.
    m_impl->parse(orvo::IsValidUtf8(text) ? orvo::Utf8ToGbk(text) : std::string(text));
    return true;
}

const std::string& COrvoIni::GetPath() const {
    return m_impl->path;
}

CString COrvoIni::GetValue(LPCTSTR section, LPCTSTR key, LPCTSTR defaultValue) const {
    const auto s = m_impl->sections.find(foldAscii(trimBlanks(section ? section : "")));
    if (s != m_impl->sections.end()) {
        const auto k = s->second.find(foldAscii(trimBlanks(key ? key : "")));
        if (k != s->second.end())
            return CString(std::string_view(k->second));
    }
    return CString(defaultValue);
}

void COrvoIni::SetValue(LPCTSTR section, LPCTSTR key, LPCTSTR value) {
    const std::string foldedKey = foldAscii(trimBlanks(key ? key : ""));
    if (foldedKey.empty())
        return;
    m_impl->sections[foldAscii(trimBlanks(section ? section : ""))][foldedKey] = value ? value : "";
}
