// An operator of the counter and what it may see: a set of branches and a set of customer groups,
// either of which may be "all" (the code 9999).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orvo::server {

class Store;

inline constexpr std::string_view kAllCode = "9999";

struct Operator {
    std::string name;
    bool allBranches = false;
    bool allGroups = false;
    std::vector<std::string> branches; // owning-branch codes, when not all
    std::vector<std::string> groups;   // customer-group codes, when not all

    // The permission texts of function 15016: codes wrapped in commas (",0101,0102,"), so that every
    // code stands after a separator and a code is never a prefix match of the whole text.
    std::string branchesText() const;
    std::string groupsText() const;
};

// Splits a comma-separated code list, trimming blanks and dropping empty entries.
std::vector<std::string> splitCodes(std::string_view text);

// Parses the stored form ("9999" or "a,b,c") into the operator's branch or group set.
void parsePermission(std::string_view stored, bool& all, std::vector<std::string>& codes);

// Password hashing with libsodium's Argon2id string format, at the login limits for real operators
// (about 50 ms each). The demo seeds lower limits; verification reads the limits from the stored string,
// and a successful login makes a hash at any other limits again at the login limits.
bool hashPassword(std::string_view password, std::string& hash, bool demoLimits);
bool verifyPassword(std::string_view hash, std::string_view password);
// True when the hash was made at the login limits (a login need not make it again).
bool hashAtLoginCost(std::string_view hash);

// Looks up the operator and checks the password; a right password whose hash is at other limits is hashed
// again at the login limits and stored. Returns false for an unknown name or a wrong
// password alike (error stays empty), or on a database error (error says which).
bool authenticate(Store& store, std::string_view name, std::string_view password, Operator& op,
                  std::string& error);
} // namespace orvo::server
