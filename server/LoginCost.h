// What a login for an unknown operator name costs: a password check against a dummy hash made with
// the work limits most stored operators use, so the time of a refusal does not tell whether the
// name exists.
#pragma once

#include "server/Db.h"

#include <string>

namespace orvo::server {

// A hash of a throw-away password with the limits (passes and memory) that most stored operator
// hashes carry; the demo limits when there are no operators. Made once per set of limits.
std::string dummyHashLikeStored(Db& db);

} // namespace orvo::server
