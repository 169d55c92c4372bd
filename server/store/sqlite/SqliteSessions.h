// The sessions table's SQL on a SQLite connection that may write (see Store.h for what each does).
#pragma once

#include "server/store/Store.h"
#include "server/store/sqlite/Db.h"

namespace orvo::server::sqlite {

bool openSession(Db& db, std::string_view server, std::string_view operatorName, std::string_view address,
                 std::int64_t& id, std::string& error);
bool sessionStates(Db& db, std::string_view server, std::int64_t fromId, std::vector<SessionState>& states,
                   std::string& error);
bool noteSessionRequests(Db& db, std::span<const SessionTouch> touches, std::string& error);
bool endSessions(Db& db, std::span<const std::int64_t> ids, std::string_view reason, std::size_t& ended,
                 std::string& error);
bool endOperatorSessions(Db& db, std::string_view operatorName, std::string_view reason, std::size_t& ended,
                         std::string& error);
bool listSessions(Db& db, std::string_view operatorName, std::vector<SessionRecord>& sessions,
                  std::string& error);

} // namespace orvo::server::sqlite
