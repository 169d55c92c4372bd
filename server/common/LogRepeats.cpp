#include "server/common/LogRepeats.h"

namespace orvo::server {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string summary(const std::string& text, long suppressed) {
    return text + " (" + std::to_string(suppressed) + " more like it in the last minute)";
}

} // namespace

std::string LogRepeats::kindOf(std::string_view text) {
    std::string kind;
    kind.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        // "1.2.3.4:5678" or "[::1]:5678": the port goes.
        if (text[i] == ':' && i > 0 && (isDigit(text[i - 1]) || text[i - 1] == ']') && i + 1 < text.size() &&
            isDigit(text[i + 1])) {
            std::size_t end = i + 1;
            while (end < text.size() && isDigit(text[end]))
                ++end;
            i = end - 1;
            continue;
        }
        // "ms=12": a request's time differs from one repeat to the next.
        if (text.substr(i, 3) == "ms=" && (i == 0 || text[i - 1] == ' ')) {
            kind += "ms=";
            i += 3;
            while (i < text.size() && isDigit(text[i]))
                ++i;
            --i;
            continue;
        }
        kind += text[i];
    }
    return kind;
}

bool LogRepeats::admit(std::string_view text, Clock::time_point now, std::vector<Summary>& due,
                       LogLevel level) {
    expire(now, due);
    std::string kind = kindOf(text);
    auto it = m_kinds.find(kind);
    if (it != m_kinds.end()) {
        ++it->second.suppressed;
        return false;
    }
    // Beyond the bound every line is written: counting is a saving, not a filter.
    if (m_kinds.size() < kMaxKinds)
        m_kinds.emplace(std::move(kind), Kind{now + kWindow, std::string(text), 0, level});
    return true;
}

void LogRepeats::expire(Clock::time_point now, std::vector<Summary>& due) {
    if (now < m_nextSweep)
        return;
    m_nextSweep = now + std::chrono::seconds(1);
    for (auto it = m_kinds.begin(); it != m_kinds.end();) {
        if (it->second.windowEnd > now) {
            ++it;
            continue;
        }
        if (it->second.suppressed > 0)
            due.push_back({summary(it->second.text, it->second.suppressed), it->second.level});
        it = m_kinds.erase(it);
    }
}

} // namespace orvo::server
