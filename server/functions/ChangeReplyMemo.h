// Answers to "changes since" shared between clients. Live windows that show the same list ask the same
// question: terminals that refreshed between the same two commits hold the same revision, and ask again
// between the same two commits. While the database is at the state an answer was made in, that answer
// is the answer for every such request, so its rows are kept (encoded) and sent again instead of being
// looked up again. Only the answers of one state are kept: the first answer of another state drops them.
#pragma once

#include "server/store/StateToken.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace orvo::server {

class ChangeReplyMemo {
public:
    // The rows of an answer as ReplyWriter records them.
    using Rows = std::shared_ptr<const std::string>;

    // What an answer is for: every byte the answer depends on besides the database (request items,
    // permissions, business date, the revision asked from), exactly, not hashed: an answer must never
    // reach a request it was not made for.
    // `state` is the database's state the answer was made in.
    Rows find(const std::string& question, const StateToken& state);
    void keep(const std::string& question, const StateToken& state, Rows rows);

    static constexpr std::size_t kMaxBytes = 16 * 1024 * 1024;
    static constexpr std::size_t kMaxAnswers = 256;

private:
    std::mutex m_mutex;
    StateToken m_state;
    std::size_t m_bytes = 0;
    std::unordered_map<std::string, Rows> m_answers;
};

} // namespace orvo::server
