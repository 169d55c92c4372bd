// Revocation that reaches open sessions. Each logged-in connection's session is recorded in the database
// (at login) and watched here: about once a second one background thread reads the state of this
// server's sessions in one query and
//  - closes a session that was ended in the database (by an administrator, a password change, a disabled
//    operator; whichever server's command ended it), telling the client why;
//  - reads the operator again when the database counted a change of it, closing the session of an
//    operator disabled or removed and giving the others their new permissions before their next request;
// and every few seconds notes the sessions' last requests. A connection that closes ends its session in
// the database at the next round. Requests never wait for any of it.
// Nothing is left behind: the server notes itself in the database every few seconds; at its start it
// ends the sessions of its earlier processes on this host that are gone, and every half minute those of
// any server not heard of for two minutes (killed, or its machine lost); at a clean stop it ends its own.
// Once an hour the same thread (the server's one background user of the database) prunes the tombstones
// of changes and deletes sessions ended over a week ago.
#pragma once

#include "server/store/StoreSource.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvo::server {

class Connection;
class ServerCore;

class SessionWatch {
public:
    // What a connection holds of its watched session.
    struct Watched {
        explicit Watched(std::int64_t id_) : id(id_) {}
        const std::int64_t id;
        std::atomic<std::time_t> lastRequest{0}; // set by the connection, noted by the watch
        void noteRequest() { lastRequest.store(std::time(nullptr), std::memory_order_relaxed); }
    };

    explicit SessionWatch(ServerCore& core);
    ~SessionWatch();
    SessionWatch(const SessionWatch&) = delete;
    SessionWatch& operator=(const SessionWatch&) = delete;

    // This process among the servers sharing the database: host:pid:start time.
    const std::string& serverName() const { return m_serverName; }

    // Starts the thread, reading through a store of its own from stores.
    void start(StoreSource& stores);
    // Ends the thread after a last round that ends every session it still watches ("server stopped").
    void stop();

    // Loop thread: watches a recorded session of the connection's operator.
    std::shared_ptr<Watched> track(std::int64_t id, std::string operatorName,
                                   std::weak_ptr<Connection> connection);
    // Any thread: the connection closed or logged out; its session is ended in the database.
    void closed(const std::shared_ptr<Watched>& watched, std::string reason);
    // Any thread: a session recorded by a login whose connection was gone before it could be watched.
    void closedUnwatched(std::int64_t id, std::string reason);

private:
    struct Entry {
        std::shared_ptr<Watched> watched;
        std::string operatorName;
        std::weak_ptr<Connection> connection;
        std::int64_t knownChanges = -1; // -1: read the operator at the first round (changed since login?)
        std::time_t notedRequest = 0;
    };
    struct Ending {
        std::int64_t id;
        std::string reason;
    };

    void run();
    void round(Store& store, bool noteRequests);
    void pruneTombstones(Store& store);
    void deleteOldSessions(Store& store);
    // Ends the sessions of servers gone: earlier processes of this host (atStart), or any server silent
    // for too long.
    void endSessionsOfGoneServers(Store& store, bool atStart);
    // Checks one session against its recorded state; false when the session is to be ended (reason set).
    bool check(Store& store, Entry& entry, const SessionState* state, std::string& reason);
    void endConnection(const Entry& entry, const std::string& reason);
    void writeEndings(Store& store, std::vector<Ending>& endings);

    ServerCore& m_core;
    const std::string m_serverName;
    StoreSource* m_stores = nullptr;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::int64_t, Entry> m_entries; // by session id
    std::vector<Ending> m_endings;           // closed sessions not yet ended in the database
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace orvo::server
