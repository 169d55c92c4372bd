// What a login for an unknown operator name costs: a password check against a dummy hash made with
// the work limits most stored operators use, so the time of a refusal does not tell whether the
// name exists.
#pragma once

#include <string>
#include <vector>

namespace orvo::server {

// A hash of a throw-away password with the limits (passes and memory) that most of the given stored
// operator hashes carry (up to 10,000 of them are looked at by any store); the demo limits when there are
// none. Made once per set of limits.
std::string dummyHashLike(const std::vector<std::string>& storedHashes);

} // namespace orvo::server
