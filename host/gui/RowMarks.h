// Rows a live update changed or added, each with the moment it was marked: the list tints them, the tint
// fading out over kFade, and tools ask which rows are marked. Rows are record rows; few are marked at a
// time, so a map keeps them.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace orvo {

class RowMarks {
public:
    using Clock = std::chrono::steady_clock;
    enum class Kind : unsigned char { Changed, Added };
    static constexpr Clock::duration kFade = std::chrono::seconds(5);

    void Mark(long row, Kind kind, Clock::time_point at) { m_marks[row] = {kind, at}; }
    void Clear() { m_marks.clear(); }
    // After rows were removed: remap[old record row] is the row's new number, -1 for a removed row.
    void Renumber(const std::vector<std::int32_t>& remap) {
        std::unordered_map<long, Entry> kept;
        for (const auto& [row, entry] : m_marks)
            if (row >= 0 && static_cast<std::size_t>(row) < remap.size() &&
                remap[static_cast<std::size_t>(row)] >= 0)
                kept.emplace(remap[static_cast<std::size_t>(row)], entry);
        m_marks = std::move(kept);
    }
    // How strongly the row's mark still shows at `now`: 1 when just marked, 0 once faded (or unmarked).
    double Strength(long row, Clock::time_point now, Kind* kind = nullptr) const {
        const auto found = m_marks.find(row);
        if (found == m_marks.end())
            return 0.0;
        const auto age = now - found->second.at;
        if (age >= kFade)
            return 0.0;
        if (kind)
            *kind = found->second.kind;
        return 1.0 - std::chrono::duration<double>(age) / std::chrono::duration<double>(kFade);
    }
    // The rows whose mark still shows, ascending; faded marks are forgotten on the way.
    std::vector<long> Rows(Clock::time_point now) {
        std::erase_if(m_marks, [&](const auto& mark) { return now - mark.second.at >= kFade; });
        std::vector<long> rows;
        rows.reserve(m_marks.size());
        for (const auto& mark : m_marks)
            rows.push_back(mark.first);
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    bool Empty() const { return m_marks.empty(); }

private:
    struct Entry {
        Kind kind;
        Clock::time_point at;
    };
    std::unordered_map<long, Entry> m_marks;
};

} // namespace orvo
