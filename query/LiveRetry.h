// How often a live list whose rows are out of date tries its query again: on the next tick at first, then
// on ever fewer ticks (every 2nd, 4th, 8th...) while the failure lasts, but at least once in a bound of
// seconds. Counted in ticks, not time, so that a try is never lost to a timer firing a little early.
#pragma once

#include <algorithm>

class CLiveRetry {
public:
    // intervalSeconds: the live refresh's interval; longestWaitSeconds: the longest wait between tries.
    CLiveRetry(unsigned intervalSeconds, unsigned longestWaitSeconds)
        : m_longestPeriod(std::max(1U, longestWaitSeconds / std::max(1U, intervalSeconds))) {}

    // A tick came: true when it is to try the query.
    bool TickDue() {
        if (m_ticksToSkip == 0)
            return true;
        --m_ticksToSkip;
        return false;
    }
    // The try failed: the next one waits twice as many ticks as this one did, up to the bound.
    void Failed() {
        m_period = m_period == 0 ? 1U : std::min(m_period * 2, m_longestPeriod);
        m_ticksToSkip = m_period - 1;
    }
    // The query succeeded: the next failure starts again from one tick.
    void Succeeded() { m_period = m_ticksToSkip = 0; }

private:
    unsigned m_longestPeriod;
    unsigned m_period = 0;
    unsigned m_ticksToSkip = 0;
};
