#include "server/net/SessionWatch.h"

#include "server/common/LogText.h"
#include "server/net/Connection.h"
#include "server/net/ServerCore.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <new>
#include <system_error>

#include <unistd.h>

namespace orvo::server {
namespace {

// How often the sessions' state is read: a revocation reaches its session within about this long.
constexpr std::chrono::milliseconds kRoundEvery{1000};
// Last requests are noted at most this often (one statement for all the sessions that had one).
constexpr int kNoteEveryRounds = 5;
// Tombstones of changes are pruned once an hour, the first time a minute after the start; those of the
// last day at least are kept, which a client that asks every few seconds never reaches back to.
constexpr int kPruneEveryRounds = 3600;
constexpr int kFirstPruneRound = 60;
constexpr std::int64_t kKeepTombstoneSeconds = 24 * 3600;
// Ended sessions are kept this long for `sessions --ended`.
constexpr std::time_t kKeepEndedSessionSeconds = 7 * 24 * 3600;
// A session ended this lately is still read with its reason, for the connection it ends.
constexpr std::time_t kEndedLatelySeconds = 60;
// The server notes itself every few rounds; one silent for two minutes is gone, which is looked for
// every half minute (not before every server has had the time to note itself once).
constexpr int kAliveEveryRounds = 5;
constexpr int kSweepEveryRounds = 30;
constexpr std::int64_t kSilentSeconds = 120;

std::string stampOf(std::time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y.%m.%d %H:%M:%S", &tm);
    return text;
}

std::string hostName() {
    std::array<char, 256> host{};
    if (gethostname(host.data(), host.size() - 1) != 0)
        host[0] = '\0';
    return host.data();
}

// A server of this host, named as processName() names one, whose process is no longer there.
bool goneFromThisHost(const std::string& server, const std::string& host) {
    if (server.size() <= host.size() + 1 || server.compare(0, host.size(), host) != 0 ||
        server[host.size()] != ':')
        return false;
    const std::size_t pidAt = host.size() + 1, colon = server.find(':', pidAt);
    if (colon == std::string::npos || colon == pidAt)
        return false;
    long pid = 0;
    for (std::size_t i = pidAt; i < colon; ++i) {
        if (server[i] < '0' || server[i] > '9' || pid > 4194304)
            return false;
        pid = pid * 10 + (server[i] - '0');
    }
    return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

std::string processName() {
    const std::string host = hostName();
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char started[32];
    std::strftime(started, sizeof started, "%Y%m%dT%H%M%S", &tm);
    return host + ":" + std::to_string(getpid()) + ":" + started;
}

Operator operatorFrom(const std::string& name, const OperatorRecord& record) {
    Operator op;
    op.name = name;
    parsePermission(record.branches, op.allBranches, op.branches);
    parsePermission(record.groups, op.allGroups, op.groups);
    return op;
}

} // namespace

SessionWatch::SessionWatch(ServerCore& core) : m_core(core), m_serverName(processName()) {}

SessionWatch::~SessionWatch() {
    stop();
}

void SessionWatch::start(StoreSource& stores) {
    m_stores = &stores;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        m_core.log(std::string("sessions: cannot start the watch thread (") + e.what() +
                   "): revocations reach open sessions only at their next login");
    }
}

void SessionWatch::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::shared_ptr<SessionWatch::Watched> SessionWatch::track(std::int64_t id, std::string operatorName,
                                                           std::weak_ptr<Connection> connection) {
    auto watched = std::make_shared<Watched>(id);
    watched->noteRequest();
    Entry entry{watched, std::move(operatorName), std::move(connection), -1, watched->lastRequest.load()};
    std::lock_guard lock(m_mutex);
    m_entries.insert_or_assign(id, std::move(entry));
    return watched;
}

void SessionWatch::closed(const std::shared_ptr<Watched>& watched, std::string reason) {
    if (!watched)
        return;
    std::lock_guard lock(m_mutex);
    // A session the watch has ended already is ended in the database too.
    if (m_entries.erase(watched->id) > 0)
        m_endings.push_back({watched->id, std::move(reason)});
}

void SessionWatch::closedUnwatched(std::int64_t id, std::string reason) {
    std::lock_guard lock(m_mutex);
    m_endings.push_back({id, std::move(reason)});
}

void SessionWatch::run() {
    std::unique_ptr<Store> store;
    std::string error, reported;
    for (int rounds = 0;; ++rounds) {
        bool stopping = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, kRoundEvery, [this] { return m_stopping; });
            stopping = m_stopping;
            if (stopping) {
                for (const auto& [id, entry] : m_entries)
                    m_endings.push_back({id, std::string(kSessionServerStopped)});
                m_entries.clear();
            }
        }
        if (!store) {
            try {
                store = m_stores->open(error);
            } catch (const std::bad_alloc&) {
                error = "out of memory";
            }
            if (!store) {
                if (error != reported)
                    m_core.log("sessions: cannot open the database: " + error);
                reported = error;
                if (stopping)
                    return;
                continue;
            }
        }
        if (rounds % kAliveEveryRounds == 0 && !stopping &&
            !store->noteServerAlive(m_serverName, std::time(nullptr), error))
            m_core.log("sessions: cannot note this server alive: " + error);
        if (rounds == 0 || (rounds % kSweepEveryRounds == 0 && !stopping))
            endSessionsOfGoneServers(*store, rounds == 0);
        round(*store, stopping || rounds % kNoteEveryRounds == 0);
        if (stopping) {
            // Whatever is still live of ours (a login answered into a closed connection) ends with us.
            std::size_t ended = 0;
            const std::string self[] = {m_serverName};
            if (!store->endServerSessions(self, kSessionServerStopped, ended, error))
                m_core.log("sessions: cannot end this server's sessions: " + error);
            return;
        }
        if (rounds % kPruneEveryRounds == kFirstPruneRound) {
            pruneTombstones(*store);
            deleteOldSessions(*store);
        }
    }
}

void SessionWatch::pruneTombstones(Store& store) {
    std::int64_t pruned = 0;
    std::string error;
    if (!store.pruneTombstones(std::time(nullptr), kKeepTombstoneSeconds, pruned, error))
        m_core.log("changes: cannot prune the tombstones: " + error);
    else if (pruned > 0)
        m_core.log("changes: pruned " + std::to_string(pruned) + " tombstones over a day old");
}

void SessionWatch::deleteOldSessions(Store& store) {
    std::size_t deleted = 0;
    std::string error;
    if (!store.deleteEndedSessions(stampOf(std::time(nullptr) - kKeepEndedSessionSeconds), deleted, error))
        m_core.log("sessions: cannot delete those ended over a week ago: " + error);
    else if (deleted > 0)
        m_core.log("sessions: deleted " + std::to_string(deleted) + " ended over a week ago");
}

void SessionWatch::endSessionsOfGoneServers(Store& store, bool atStart) {
    std::vector<std::pair<std::string, std::int64_t>> servers;
    std::string error;
    if (!store.listServers(servers, error)) {
        m_core.log("sessions: cannot read the servers: " + error);
        return;
    }
    const std::string host = hostName();
    const std::int64_t now = std::time(nullptr);
    std::vector<std::string> stopped, lost;
    for (const auto& [name, seen] : servers) {
        if (name == m_serverName)
            continue;
        if (goneFromThisHost(name, host))
            stopped.push_back(name);
        else if (!atStart && now - seen > kSilentSeconds)
            lost.push_back(name);
    }
    for (const auto& [gone, reason] :
         {std::pair{&stopped, kSessionServerStopped}, std::pair{&lost, kSessionServerLost}}) {
        std::size_t ended = 0;
        if (gone->empty())
            continue;
        if (!store.endServerSessions(*gone, reason, ended, error))
            m_core.log("sessions: cannot end the sessions of servers gone: " + error);
        else
            for (const std::string& name : *gone)
                m_core.log("sessions: server " + escapeText(name) + " is gone (" + std::string(reason) +
                           "); its live sessions ended (" + std::to_string(ended) + " in all)");
    }
}

void SessionWatch::round(Store& store, bool noteRequests) {
    std::vector<Entry> entries;
    std::vector<Ending> endings;
    {
        std::lock_guard lock(m_mutex);
        entries.reserve(m_entries.size());
        for (const auto& [id, entry] : m_entries)
            entries.push_back(entry);
        endings.swap(m_endings);
    }
    writeEndings(store, endings);
    if (entries.empty())
        return;

    std::string error;
    std::vector<SessionState> states;
    if (!store.sessionStates(m_serverName, entries.front().watched->id,
                             stampOf(std::time(nullptr) - kEndedLatelySeconds), states, error)) {
        m_core.log("sessions: cannot read their state: " + error);
        return;
    }
    std::vector<SessionTouch> touches;
    for (Entry& entry : entries) {
        const auto found = std::lower_bound(states.begin(), states.end(), entry.watched->id,
                                            [](const SessionState& s, std::int64_t id) { return s.id < id; });
        const SessionState* state =
            found != states.end() && found->id == entry.watched->id ? &*found : nullptr;
        std::string reason;
        if (!check(store, entry, state, reason)) {
            endConnection(entry, reason);
            if (!state || !state->ended)
                endings.push_back({entry.watched->id, reason});
            continue;
        }
        const std::time_t last = entry.watched->lastRequest.load(std::memory_order_relaxed);
        if (noteRequests && last > entry.notedRequest) {
            touches.push_back({entry.watched->id, stampOf(last)});
            entry.notedRequest = last;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        for (const Entry& entry : entries) {
            const auto kept = m_entries.find(entry.watched->id);
            if (kept == m_entries.end())
                continue;
            const bool ending = std::any_of(endings.begin(), endings.end(),
                                            [&](const Ending& e) { return e.id == entry.watched->id; });
            if (!ending && entry.connection.expired())
                endings.push_back({entry.watched->id, std::string(kSessionClosed)}); // gone without a word
            if (ending || entry.connection.expired())
                m_entries.erase(kept);
            else {
                kept->second.knownChanges = entry.knownChanges;
                kept->second.notedRequest = entry.notedRequest;
            }
        }
    }
    writeEndings(store, endings);
    if (!touches.empty() && !store.noteSessionRequests(touches, error))
        m_core.log("sessions: cannot note their last requests: " + error);
}

bool SessionWatch::check(Store& store, Entry& entry, const SessionState* state, std::string& reason) {
    if (!state) {
        reason = kSessionEndedByAdministrator; // its row was deleted
        return false;
    }
    if (state->ended) {
        reason = state->endReason.empty() ? std::string(kSessionEndedByAdministrator) : state->endReason;
        return false;
    }
    if (state->operatorChanges == entry.knownChanges)
        return true;
    OperatorRecord record;
    std::string error;
    if (!store.findOperator(entry.operatorName, record, error)) {
        if (!error.empty()) {
            m_core.log("sessions: cannot read operator " + escapeText(entry.operatorName) + ": " + error);
            return true; // read again at the next round
        }
        reason = kSessionEndedRemoved;
        return false;
    }
    if (!record.enabled) {
        reason = kSessionEndedDisabled;
        return false;
    }
    entry.knownChanges = state->operatorChanges;
    asio::post(m_core.io(), [connection = entry.connection, id = entry.watched->id,
                             op = operatorFrom(entry.operatorName, record)] {
        if (auto c = connection.lock())
            c->reviseOperator(id, op);
    });
    return true;
}

void SessionWatch::endConnection(const Entry& entry, const std::string& reason) {
    m_core.log("session " + std::to_string(entry.watched->id) + " of " + escapeText(entry.operatorName) +
               " ended: " + reason);
    asio::post(m_core.io(), [connection = entry.connection, id = entry.watched->id, reason] {
        if (auto c = connection.lock())
            c->endSession(id, reason);
    });
}

void SessionWatch::writeEndings(Store& store, std::vector<Ending>& endings) {
    std::string error;
    while (!endings.empty()) {
        const std::string reason = endings.front().reason;
        std::vector<std::int64_t> ids;
        std::erase_if(endings, [&](const Ending& e) {
            if (e.reason != reason)
                return false;
            ids.push_back(e.id);
            return true;
        });
        std::size_t ended = 0;
        if (!store.endSessions(ids, reason, ended, error)) {
            m_core.log("sessions: cannot record " + std::to_string(ids.size()) + " ended: " + error);
            // Tried again at the next round, unless the server stops.
            std::lock_guard lock(m_mutex);
            if (!m_stopping)
                for (const std::int64_t id : ids)
                    m_endings.push_back({id, reason});
        }
    }
}

} // namespace orvo::server
