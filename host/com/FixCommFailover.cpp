// CFixComm's list of servers and its patience with busy ones: which server a session is opened on, when
// to try a busy server again, and repeating a query whose server failed on the next server of the list.
#include "host/com/FixCommImpl.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <random>
#include <thread>

namespace {

// Busy servers are tried again after 200 ms, doubling up to 2 s, each wait drawn between half and all of
// that: terminals turned away together do not come back together.
constexpr int kFirstBusyWaitMs = 200;
constexpr int kLongestBusyWaitMs = 2000;
// A retry-after hint beyond this is not believed.
constexpr std::uint64_t kLongestRetryAfterMs = 600000;

int BusyWaitMs(int round) {
    static thread_local std::minstd_rand random{std::random_device{}()};
    const int ceiling = std::min(kLongestBusyWaitMs, kFirstBusyWaitMs << std::min(round - 1, 4));
    return std::uniform_int_distribution<int>(ceiling / 2, ceiling)(random);
}

// What went wrong with one server, for a failure that names every server tried: its connect failure
// without the words that name the server, which the list names already.
std::string ServerFailureReason(const std::string& text, const std::string& server) {
    const std::string connect = "cannot connect to the counter server " + server + ": ";
    return text.starts_with(connect) ? text.substr(connect.size()) : text;
}

} // namespace

// Holds the failures of attempts that may still be retried; on failure, the last one is reported once.
class CFixComm::Impl::HeldFailures {
public:
    explicit HeldFailures(Impl& channel) : m_channel(channel), m_outer(channel.holdFailures) {
        m_channel.holdFailures = true;
        m_channel.heldFailure = false;
    }
    ~HeldFailures() { m_channel.holdFailures = m_outer; }
    HeldFailures(const HeldFailures&) = delete;
    HeldFailures& operator=(const HeldFailures&) = delete;

    void ReportLast() {
        m_channel.holdFailures = m_outer;
        if (m_channel.heldFailure)
            m_channel.ReportFailure();
    }

private:
    Impl& m_channel;
    bool m_outer;
};

void CFixComm::Impl::MoveToNextServer(const std::string& why) {
    CloseConnection();
    if (ServerCount() < 2)
        return;
    const std::string from = ServerName();
    current = (current + 1) % ServerCount();
    if (onServerChange)
        onServerChange(from, ServerName(), why);
}

void CFixComm::Impl::NoteRetryAfter(const proto::Frame& end) {
    const proto::Item* hint = end.Find(orvo::com::kTagRetryAfter);
    std::uint64_t ms = 0;
    if (hint && proto::ParseDecimal(hint->value, kLongestRetryAfterMs, ms))
        retryAfterMs = static_cast<int>(ms);
}

bool CFixComm::Impl::EnsureSession(long forFunction) {
    assert(CallerHoldsConnection());
    if (forFunction != proto::kFunctionLogin && loggedIn && socket.IsOpen() && !socket.PeerClosed())
        return true;
    HeldFailures held(*this);
    std::optional<orvo::Deadline> busyUntil; // from the first busy answer, the connect time-out
    std::optional<FixCommFailure> busy;      // the last busy answer of the round
    int hintMs = -1;                         // the longest retry-after of the round; -1: none
    std::size_t tried = 0;                   // servers tried in this round
    std::string failedServers;               // "HOST:PORT: why; ..." of the servers that failed in it
    int busyRounds = 0;
    for (;;) {
        switch (TryServer(forFunction)) {
        case Attempt::Ok:
            return true;
        case Attempt::Refused:
            held.ReportLast();
            return false;
        case Attempt::Busy:
            busy = failure;
            if (retryAfterMs)
                hintMs = std::max(hintMs, *retryAfterMs);
            break;
        case Attempt::ServerFailed:
            failedServers += (failedServers.empty() ? "" : "; ") + ServerName() + ": " +
                             ServerFailureReason(failure.text.str(), ServerName());
            break;
        }
        if (++tried < ServerCount()) {
            MoveToNextServer(failure.text.str());
            continue;
        }
        // Every server of the list was tried. None busy: none can be reached; each one's reason is told.
        if (!busy) {
            if (ServerCount() > 1)
                failure.text = CString("no counter server of the list answers: " + failedServers);
            held.ReportLast();
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!busyUntil)
            busyUntil = now + std::chrono::milliseconds(settings.connectTimeoutMs);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*busyUntil - now).count();
        const int wait = hintMs >= 0 ? hintMs : BusyWaitMs(++busyRounds);
        if (left <= 0 || hintMs > left) {
            failure = *busy; // a busy server is no unreachable one, whatever else the round met
            held.ReportLast();
            return false;
        }
        const int waitMs = static_cast<int>(std::min<long long>(wait, left));
        if (onBusy)
            onBusy(FixCommBusy{ServerName(), waitMs, busyRounds, busy->text});
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        MoveToNextServer(busy->text.str()); // round the list again
        busy.reset();
        hintMs = -1;
        tried = 0;
        failedServers.clear();
    }
}

auto CFixComm::Impl::StartReply() -> Step {
    // Only a query is repeated: a login is not a request to repeat, and its failure is EnsureSession's.
    const bool mayRepeat = function != proto::kFunctionLogin && ServerCount() > 1;
    HeldFailures held(*this);
    std::size_t serversLeft = ServerCount();
    cancelled = false;
    for (;;) {
        if (!EnsureSession(function)) {
            TraceReply(function, 0, failure.status);
            held.ReportLast();
            return Step::Failed;
        }
        Step step = Step::Failed;
        if (Send(function, items)) {
            state = State::Reading;
            step = NextFrameFromSocket(function);
        }
        // A server that failed leaves the connection closed (so does a cancel, which is not repeated); a
        // refusal of the request does not.
        if (step != Step::Failed || !mayRepeat || cancelled || socket.IsOpen() || --serversLeft == 0) {
            if (step == Step::Failed)
                held.ReportLast();
            return step;
        }
        if (state == State::Reading)
            TraceReply(function, 0, failure.status); // Send traces its own failure
        state = State::Idle;
        MoveToNextServer(failure.text.str());
    }
}

auto CFixComm::Impl::NextReplyFrame() -> Step {
    // No row is current here (the reader's bytes are free to move): a long reply goes on ahead.
    if (!readAhead && rows == orvo::com::kReadAheadAfterRows)
        StartReadAhead();
    if (repeatsLeft == 0)
        return readAhead ? NextRowFromReadAhead(function) : NextFrameFromSocket(function);
    HeldFailures held(*this);
    const Step step = readAhead ? NextRowFromReadAhead(function) : NextFrameFromSocket(function);
    // A server that died leaves the connection closed; a cancel does too, but is the caller's own word.
    if (step != Step::Failed || cancelled || socket.IsOpen()) {
        held.ReportLast();
        return step;
    }
    const Step repeated = RepeatOnNextServer(rows);
    if (repeated == Step::Failed)
        held.ReportLast();
    return repeated;
}

auto CFixComm::Impl::RepeatOnNextServer(long cutAfter) -> Step {
    --repeatsLeft;
    TraceReply(function, cutAfter, failure.status);
    state = State::Idle;
    MoveToNextServer(failure.text.str() + "; request " + std::to_string(function) + " cut after " +
                     std::to_string(cutAfter) + " rows is asked again from the start");
    rows = 0;
    if (dropRowsRead)
        dropRowsRead();
    return StartReply();
}
