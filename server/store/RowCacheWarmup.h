// Fills the row cache when a server starts, so that the first query of the day is answered from kept
// rows as the later ones are. Each rule kind in turn is read as a query of an operator who sees every
// customer would read it (within validity, the client's default), through the store's own cached path:
// the rows kept are byte for byte those a reply would keep, under the same revision and generation
// checks. An encoded row depends only on its kind (every kind has one set of reply columns), not on
// the operator or the conditions, so these rows serve every operator's queries.
//
// The work runs on a thread of its own at the lowest priority and pauses (briefly, a bounded number of
// times per kind) while real requests run. It ends when every kind is kept, when the cache comes near
// its byte limit, when the cache is emptied (another database file or cluster: rows read now would be
// refused) and when the server stops.
#pragma once

#include "server/store/Store.h"
#include "server/store/StoreSource.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace orvo::server {

// A rule kind and the reply columns its query answers with.
struct WarmKind {
    int category = 0;
    std::span<const ReplyColumn> columns;
};

// What a finished warm-up did.
struct WarmupReport {
    std::size_t rows = 0, bytes = 0; // what the cache holds at the end
    std::chrono::milliseconds elapsed{0}, cpu{0}, paused{0};
    std::string ended; // why it ended: "done", or what stopped it
};

class RowCacheWarmup {
public:
    struct Setup {
        std::vector<WarmKind> kinds; // in the order they are kept
        std::string today;           // "YYYY.MM.DD"; empty: the local date
        // Waits up to the time given while real requests run (returns at once when none does).
        std::function<void(std::chrono::milliseconds)> waitForRequests;
        std::function<void(std::string_view)> log; // the line when it ends
    };

    // Starts at once on a thread of its own; the source outlives this.
    RowCacheWarmup(StoreSource& stores, Setup setup);
    // Stops it (see stop()).
    ~RowCacheWarmup();
    RowCacheWarmup(const RowCacheWarmup&) = delete;
    RowCacheWarmup& operator=(const RowCacheWarmup&) = delete;

    // Ends the work at its next batch of rows and waits for the thread.
    void stop();
    // Waits up to `within` for the work to end; true and the report when it has.
    bool waitDone(std::chrono::milliseconds within, WarmupReport& report);

    // Pauses while requests run last at most this long each, and at most kPausesPerKind times per kind:
    // a paused warm-up holds a database connection and a snapshot, which a request may be waiting for.
    static constexpr std::chrono::milliseconds kPause{20};
    static constexpr int kPausesPerKind = 25;

private:
    void run();
    // Why the work should end now, or empty: it may go on.
    std::string_view reasonToEnd(std::uint64_t generation) const;

    StoreSource& m_stores;
    Setup m_setup;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
    WarmupReport m_report;
    std::thread m_thread; // last: started once the rest is ready
};

} // namespace orvo::server
