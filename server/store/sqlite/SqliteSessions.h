// The sessions table's SQL on a SQLite connection that may write (see Store.h for what each does).
#pragma once

#include "server/store/Store.h"
#include "server/store/sqlite/Db.h"

namespace orvo::server::sqlite {

bool openSession(Db& db, std::string_view server, std::string_view operatorName, std::string_view address,
                 std::int64_t ticketSession, std::int64_t& id, std::string& error);
bool sessionStates(Db& db, std::string_view server, std::int64_t fromId, std::string_view endedSince,
                   std::vector<SessionState>& states, std::string& error);
bool ticketSession(Db& db, std::int64_t id, TicketSession& session, std::string& error);
bool revokeSessionTickets(Db& db, std::span<const std::int64_t> ids, std::string_view operatorName,
                          std::string_view reason, std::string_view by, std::size_t& revoked,
                          std::string& error);
bool noteServerAlive(Db& db, std::string_view server, std::int64_t now, std::string& error);
bool listServers(Db& db, std::vector<std::pair<std::string, std::int64_t>>& servers, std::string& error);
bool endServerSessions(Db& db, std::span<const std::string> servers, std::string_view reason,
                       std::size_t& ended, std::string& error);
bool deleteEndedSessions(Db& db, std::string_view endedBefore, std::size_t& deleted, std::string& error);
bool noteSessionRequests(Db& db, std::span<const SessionTouch> touches, std::string& error);
bool endSessions(Db& db, std::span<const std::int64_t> ids, std::string_view reason, std::size_t& ended,
                 std::string& error);
bool endOperatorSessions(Db& db, std::string_view operatorName, std::string_view reason, std::size_t& ended,
                         std::string& error);
bool listSessions(Db& db, std::string_view operatorName, bool withEnded, std::vector<SessionRecord>& sessions,
                  std::string& error);

} // namespace orvo::server::sqlite
