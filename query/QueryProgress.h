// Keeps the query window alive while a slow reply is awaited: after half a second the window repaints
// and the status line shows how many rows have arrived; Escape cancels the wait. The request stays
// synchronous for the caller: while it waits, every other input to the application is swallowed, so
// nothing can start a second request inside the first.
#pragma once

#include "platform/CString.h"

#include <chrono>
#include <functional>
#include <memory>

class CFixComm;

// While any CQueryProgress lives, the application's property of this name is above 0.
inline constexpr const char* kQueryRunningProperty = "orvoQueriesRunning";

class CQueryProgress {
public:
    // Installs itself as the channel's wait callback (when there is a channel) until destroyed; show
    // receives the status text to display.
    CQueryProgress(CFixComm* pFixComm, std::function<void(const CString&)> show);
    ~CQueryProgress();
    CQueryProgress(const CQueryProgress&) = delete;
    CQueryProgress& operator=(const CQueryProgress&) = delete;

    BOOL Cancelled() const { return m_bCancelled; }
    // Once the request is done: takes the input that arrived while it waited, before the window sees
    // it, so that an Escape meant for the query can neither clear the find field nor close the window
    // (an Escape among it counts as the cancel it was meant to be). Returns Cancelled().
    BOOL Finish();
    long ElapsedMs() const;

    // What the channel calls while it waits; public for tests.
    bool OnWait(long rows);

private:
    class InputGate;
    CFixComm* m_pFixComm;
    std::function<void(const CString&)> m_show;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastShown{};
    std::unique_ptr<InputGate> m_gate;
    bool m_bCancelled = false;
};
