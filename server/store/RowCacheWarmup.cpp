#include "server/store/RowCacheWarmup.h"

#include "server/common/Dates.h"
#include "server/store/Conditions.h"
#include "server/store/Operator.h"
#include "server/store/ReplyWriter.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

namespace orvo::server {
namespace {

// The lowest priority there is short of an idle class: a request's worker (at most niceness 5) gets
// nearly all of a core the two share.
constexpr int kWarmupNiceness = 19;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds threadCpu() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return milliseconds(static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
}

milliseconds since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// Where a warm-up's reply goes: nowhere. Each batch of the reply asks first whether to go on, and that
// is where the warm-up ends early or steps aside for requests.
class WarmSink : public ByteSink {
public:
    explicit WarmSink(std::function<bool()> goOn) : m_goOn(std::move(goOn)) {}
    bool write(std::string_view) override { return m_goOn(); }

private:
    std::function<bool()> m_goOn;
};

std::string reportLine(const WarmupReport& report) {
    char figures[160];
    std::snprintf(figures, sizeof figures,
                  "%zu rows, %.1f MiB, %lld ms (%lld ms CPU, %lld ms paused for requests)", report.rows,
                  static_cast<double>(report.bytes) / (1024.0 * 1024.0),
                  static_cast<long long>(report.elapsed.count()), static_cast<long long>(report.cpu.count()),
                  static_cast<long long>(report.paused.count()));
    if (report.ended == "done")
        return std::string("row cache warmed: ") + figures;
    return "row cache warm-up ended early (" + report.ended + "): " + figures;
}

} // namespace

RowCacheWarmup::RowCacheWarmup(StoreSource& stores, Setup setup)
    : m_stores(stores), m_setup(std::move(setup)), m_thread([this] { run(); }) {}

RowCacheWarmup::~RowCacheWarmup() {
    stop();
}

void RowCacheWarmup::stop() {
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool RowCacheWarmup::waitDone(milliseconds within, WarmupReport& report) {
    std::unique_lock lock(m_mutex);
    if (!m_finished.wait_for(lock, within, [this] { return m_done; }))
        return false;
    report = m_report;
    return true;
}

std::string_view RowCacheWarmup::reasonToEnd(std::uint64_t generation) const {
    const RowCache& cache = m_stores.rowCache();
    if (m_stopping.load(std::memory_order_relaxed))
        return "the server stops";
    // Rows read from here on belong to another database, or would be refused as such.
    if (cache.generation() != generation)
        return "the cache was emptied";
    // An eighth of the cache is left to the rows replies keep, and to the batches still on their way in:
    // rows kept beyond the limit would only push out rows kept a moment before.
    if (cache.bytes() > cache.limitBytes() - cache.limitBytes() / 8)
        return "the cache is nearly full";
    return {};
}

void RowCacheWarmup::run() {
    // Best effort: without it the pauses alone make way for requests.
    [[maybe_unused]] const int rc = setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWarmupNiceness);
    const Clock::time_point started = Clock::now();
    const milliseconds cpuAtStart = threadCpu();
    RowCache& cache = m_stores.rowCache();
    WarmupReport report;
    std::string error;
    const std::uint64_t generation = cache.generation();
    const std::unique_ptr<Store> store = cache.enabled() ? m_stores.open(error) : nullptr;
    if (!cache.enabled()) {
        report.ended = "no row cache";
    } else if (!store) {
        report.ended = "cannot open the database: " + error;
    } else {
        Operator everyone;
        everyone.name = "-";
        everyone.allBranches = true;
        everyone.allGroups = true;
        Conditions withinValidity;
        withinValidity.validity = Validity::Valid;
        const std::string today = m_setup.today.empty() ? localDate() : m_setup.today;
        for (const WarmKind& kind : m_setup.kinds) {
            if (const std::string_view why = reasonToEnd(generation); !why.empty()) {
                report.ended = why;
                break;
            }
            int pauses = 0;
            WarmSink sink([&] {
                if (!reasonToEnd(generation).empty())
                    return false;
                if (pauses < kPausesPerKind && m_setup.waitForRequests) {
                    const Clock::time_point before = Clock::now();
                    m_setup.waitForRequests(kPause);
                    const milliseconds waited = since(before);
                    if (waited.count() > 0) {
                        ++pauses;
                        report.paused += waited;
                    }
                }
                return reasonToEnd(generation).empty();
            });
            ReplyWriter reply(sink, 0);
            RuleQuery query;
            query.category = kind.category;
            query.op = &everyone;
            query.cond = &withinValidity;
            query.today = today;
            const StreamEnd end = store->streamRules(query, kind.columns, reply, error);
            if (end == StreamEnd::DatabaseError) {
                report.ended = "database error: " + error;
                break;
            }
            // A reply fails by itself only for a row no frame holds: the next kind may still be kept.
            if (const std::string_view why = reasonToEnd(generation);
                end == StreamEnd::SinkFailed && !why.empty()) {
                report.ended = why;
                break;
            }
        }
        if (report.ended.empty())
            report.ended = "done";
    }
    report.rows = cache.entries();
    report.bytes = cache.bytes();
    report.elapsed = since(started);
    report.cpu = threadCpu() - cpuAtStart;
    if (m_setup.log)
        m_setup.log(reportLine(report));
    {
        const std::lock_guard lock(m_mutex);
        m_report = report;
        m_done = true;
    }
    m_finished.notify_all();
}

} // namespace orvo::server
