#include "server/store/Operator.h"

#include "server/store/Store.h"

#include <sodium.h>

namespace orvo::server {
namespace {

std::string wrapCodes(bool all, const std::vector<std::string>& codes) {
    std::string text = ",";
    if (all) {
        text += kAllCode;
        text += ',';
        return text;
    }
    for (const std::string& code : codes) {
        text += code;
        text += ',';
    }
    return text;
}

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Argon2id for operators: three passes over 19 MiB, above the published minimum for interactive logins
// (19 MiB, two passes) and about 50 ms on a small two-core server, so a morning's logins of a whole office
// pass in seconds. The demo's two passes over 8 MiB are upgraded at the first login like any other.
constexpr unsigned long long kLoginOps = 3;
constexpr size_t kLoginMem = 19u * 1024u * 1024u;
constexpr unsigned long long kDemoOps = 2;
constexpr size_t kDemoMem = 8u * 1024u * 1024u;

} // namespace

std::string Operator::branchesText() const {
    return wrapCodes(allBranches, branches);
}
std::string Operator::groupsText() const {
    return wrapCodes(allGroups, groups);
}

std::vector<std::string> splitCodes(std::string_view text) {
    std::vector<std::string> codes;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string_view::npos)
            comma = text.size();
        std::string_view code = text.substr(pos, comma - pos);
        while (!code.empty() && (code.front() == ' ' || code.front() == '\t'))
            code.remove_prefix(1);
        while (!code.empty() && (code.back() == ' ' || code.back() == '\t'))
            code.remove_suffix(1);
        if (!code.empty())
            codes.emplace_back(code);
        pos = comma + 1;
    }
    return codes;
}

void parsePermission(std::string_view stored, bool& all, std::vector<std::string>& codes) {
    codes = splitCodes(stored);
    all = false;
    for (const std::string& code : codes)
        if (code == kAllCode)
            all = true;
    if (all)
        codes.clear();
}

bool hashPassword(std::string_view password, std::string& hash, bool demoLimits) {
    if (!sodiumReady())
        return false;
    char out[crypto_pwhash_STRBYTES];
    unsigned long long ops = demoLimits ? kDemoOps : kLoginOps;
    size_t mem = demoLimits ? kDemoMem : kLoginMem;
    if (crypto_pwhash_str(out, password.data(), password.size(), ops, mem) != 0)
        return false;
    hash = out;
    return true;
}

bool verifyPassword(std::string_view hash, std::string_view password) {
    if (!sodiumReady() || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    char stored[crypto_pwhash_STRBYTES] = {};
    hash.copy(stored, hash.size());
    return crypto_pwhash_str_verify(stored, password.data(), password.size()) == 0;
}

bool hashAtLoginCost(std::string_view hash) {
    if (!sodiumReady() || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    char stored[crypto_pwhash_STRBYTES] = {};
    hash.copy(stored, hash.size());
    return crypto_pwhash_str_needs_rehash(stored, kLoginOps, kLoginMem) == 0;
}

bool authenticate(Store& store, std::string_view name, std::string_view password, Operator& op,
                  std::string& error) {
    OperatorRecord record;
    if (!store.findOperator(name, record, error)) {
        // Spend the same effort as for a known name, so timing does not tell which names exist.
        if (error.empty())
            verifyPassword(store.dummyPasswordHash(), password);
        return false;
    }
    // A disabled operator is refused exactly as a wrong password, after the same work.
    if (!verifyPassword(record.passwordHash, password) || !record.enabled)
        return false;
    store.recordLogin(name);
    // A hash made at other limits (stronger and slow, or too weak) is made again now that the password is
    // known; a failure leaves the old one, which still works.
    std::string upgraded;
    if (!hashAtLoginCost(record.passwordHash) && hashPassword(password, upgraded, false))
        store.replacePasswordHash(name, record.passwordHash, upgraded);
    op = Operator{};
    op.name = std::string(name);
    parsePermission(record.branches, op.allBranches, op.branches);
    parsePermission(record.groups, op.allGroups, op.groups);
    return true;
}

} // namespace orvo::server
