// Operators in a SQLite database: the login check on a plain connection, writing an operator, and the
// dummy hash that makes a refusal of an unknown name cost as much as a wrong password.
#pragma once

#include "server/store/Operator.h"
#include "server/store/sqlite/Db.h"

#include <string>
#include <string_view>

namespace orvo::server {

// Looks up the operator and checks the password on a SQLite connection (see authenticate(Store&)).
bool authenticate(Db& db, std::string_view name, std::string_view password, Operator& op, std::string& error);

// Inserts or replaces an operator.
bool storeOperator(Db& db, std::string_view name, std::string_view password, std::string_view branches,
                   std::string_view groups, bool demoLimits, std::string& error);

// dummyHashLike() over the hashes of the operators stored in the database.
std::string dummyHashLikeStored(Db& db);
} // namespace orvo::server
