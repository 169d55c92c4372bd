// What the parts of the differential check of "changes since a revision" share: the clock, a window's
// rows by serial, and the full query it is compared with.
#pragma once

#include "tests/server/RawClient.h"

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace orvo::bench::changes_check {

using Clock = std::chrono::steady_clock;
using test::Items;
using Window = std::map<long long, std::vector<std::pair<std::string, std::string>>>;

inline constexpr const char* kToday = "2026.12.07";
// Every stop-loss rule within validity, as admin sees them.
inline const Items kFull = {{697, ""}, {9020, "0"}};

inline double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

} // namespace orvo::bench::changes_check
