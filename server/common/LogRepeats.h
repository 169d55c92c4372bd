// Folding repeated log lines: the first of a kind in a minute is written, the others only counted, and
// the count is written when the minute is over. "Of a kind": the same text once a client's port and a
// request's time (ms=) are taken out, so that a client reconnecting or guessing again and again is one
// kind.
#pragma once

#include "server/common/ServerLog.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvo::server {

class LogRepeats {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kWindow{60};
    static constexpr std::size_t kMaxKinds = 4096;

    // A count written at the end of a window, at the level of the lines it counts (so that a filter on
    // errors sees how often an error repeated).
    struct Summary {
        std::string text; // "TEXT (N more like it in the last minute)"
        LogLevel level = LogLevel::Warn;
    };

    // Whether the line is to be written now (the first of its kind in the window). Summaries of the
    // windows that are over are returned in due.
    bool admit(std::string_view text, Clock::time_point now, std::vector<Summary>& due,
               LogLevel level = LogLevel::Warn);
    void expire(Clock::time_point now, std::vector<Summary>& due);

    // The text with the ":PORT" after an address and the digits of "ms=" removed.
    static std::string kindOf(std::string_view text);

private:
    struct Kind {
        Clock::time_point windowEnd;
        std::string text; // the first line, for the summary
        long suppressed = 0;
        LogLevel level = LogLevel::Warn;
    };
    std::unordered_map<std::string, Kind> m_kinds;
    Clock::time_point m_nextSweep{};
};

} // namespace orvo::server
