#include "server/store/LoginCost.h"

#include "server/store/Operator.h"

#include <charconv>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

#include <sodium.h>

namespace orvo::server {
namespace {

// Reads "m=KIB,t=PASSES" from an Argon2 string ("$argon2id$v=19$m=8192,t=2,p=1$salt$hash").
bool readLimits(std::string_view hash, unsigned long long& memKib, unsigned long long& passes) {
    auto number = [&hash](std::string_view key, unsigned long long& out) {
        const std::size_t at = hash.find(key);
        if (at == std::string_view::npos)
            return false;
        const char* begin = hash.data() + at + key.size();
        auto [end, ec] = std::from_chars(begin, hash.data() + hash.size(), out);
        return ec == std::errc() && end != begin;
    };
    return hash.starts_with("$argon2id$") && number("$m=", memKib) && number(",t=", passes);
}

} // namespace

std::string dummyHashLike(const std::vector<std::string>& storedHashes) {
    std::map<std::pair<unsigned long long, unsigned long long>, int> seen;
    for (const std::string& stored : storedHashes) {
        unsigned long long memKib = 0, passes = 0;
        if (readLimits(stored, memKib, passes))
            ++seen[{memKib, passes}];
    }
    std::pair<unsigned long long, unsigned long long> limits{0, 0};
    int most = 0;
    for (const auto& [key, count] : seen)
        if (count > most) {
            most = count;
            limits = key;
        }

    static std::mutex mutex;
    static std::map<std::pair<unsigned long long, unsigned long long>, std::string> made;
    std::lock_guard lock(mutex);
    auto it = made.find(limits);
    if (it != made.end())
        return it->second;
    std::string hash;
    const bool sane = limits.first >= crypto_pwhash_MEMLIMIT_MIN / 1024 &&
                      limits.first <= crypto_pwhash_MEMLIMIT_SENSITIVE / 1024 &&
                      limits.second >= crypto_pwhash_OPSLIMIT_MIN &&
                      limits.second <= crypto_pwhash_OPSLIMIT_SENSITIVE;
    if (sane && sodium_init() >= 0) {
        char out[crypto_pwhash_STRBYTES];
        if (crypto_pwhash_str(out, "-", 1, limits.second, static_cast<std::size_t>(limits.first) * 1024) == 0)
            hash = out;
    }
    if (hash.empty())
        hashPassword("-", hash, true); // no operators (or none readable): the demo limits
    made.emplace(limits, hash);
    return hash;
}

} // namespace orvo::server
