// One queue for the writers of one database file inside this process. SQLite lets one connection write
// at a time, and a connection that finds the file busy sleeps and retries: a writer that commits again
// and again (the simulated market, a watch round) wins nearly every retry, and a login waiting to record
// its session starves. Writers of this process therefore take their turn here first, in the order they
// asked, and SQLite's busy wait is left to writers in other processes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvo::server {

class WriteGate {
public:
    // The gate of the file with this identity (device:inode), shared by every connection of the process
    // that opened it, under whatever path.
    static std::shared_ptr<WriteGate> forFile(const std::string& identity);

    // Waits for this caller's turn, first come first served; false when it has not come within patience
    // (the caller then holds nothing).
    bool enter(std::chrono::milliseconds patience);
    // Ends the turn taken by enter(); the longest waiting caller goes next.
    void leave();

private:
    std::mutex m_mutex;
    std::condition_variable m_turnMoved;
    std::uint64_t m_nextTicket = 0;         // handed to the next caller
    std::uint64_t m_serving = 0;            // whose turn it is; free when equal to m_nextTicket
    std::vector<std::uint64_t> m_abandoned; // tickets of callers that stopped waiting, skipped on leave
};

} // namespace orvo::server
