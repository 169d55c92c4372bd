// Where a database stands, as everything that follows changes compares it: the revisions handed out to
// clients, the answers shared between them, the rows kept encoded and the shortcut that answers "nothing
// changed" from memory. Two parts, compared together: which database in which incarnation (a file
// replaced, a backup restored into the live database, another database or cluster behind the same name
// are each another incarnation), and the position in that incarnation's commit order from which nothing
// is visible yet. Positions of one incarnation only ever grow; positions of different incarnations never
// compare.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvo::server {

struct StateToken {
    std::uint64_t identity = 0; // 0: not known
    std::int64_t position = 0;
    bool operator==(const StateToken&) const = default;
};

// An identity from the text that names a database's incarnation (each back-end says what goes into it):
// a 64-bit FNV-1a hash, never 0.
std::uint64_t identityOf(std::string_view incarnation);

// The identity as 16 hexadecimal digits.
std::string identityText(std::uint64_t identity);

} // namespace orvo::server
