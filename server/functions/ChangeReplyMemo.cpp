#include "server/functions/ChangeReplyMemo.h"

namespace orvo::server {

ChangeReplyMemo::Rows ChangeReplyMemo::find(const std::string& question, const StateToken& state) {
    std::lock_guard lock(m_mutex);
    if (state != m_state)
        return nullptr;
    const auto it = m_answers.find(question);
    return it == m_answers.end() ? nullptr : it->second;
}

void ChangeReplyMemo::keep(const std::string& question, const StateToken& state, Rows rows) {
    std::lock_guard lock(m_mutex);
    // A state before the one kept is mostly an answer made just before a commit; another incarnation is a
    // database put back or replaced, whose positions may come again with other rows. Either way the
    // answers kept go.
    if (state != m_state) {
        m_answers.clear();
        m_bytes = 0;
        m_state = state;
    }
    const std::size_t bytes = question.size() + rows->size();
    if (m_answers.size() >= kMaxAnswers || m_bytes + bytes > kMaxBytes)
        return;
    if (m_answers.emplace(question, std::move(rows)).second)
        m_bytes += bytes;
}

} // namespace orvo::server
