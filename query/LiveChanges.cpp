#include "query/LiveChanges.h"

namespace live {
namespace {
thread_local ChangesScope* t_active = nullptr;
} // namespace

ChangesScope::ChangesScope(long category, std::string revision)
    : m_category(category), m_revision(std::move(revision)), m_outer(t_active) {
    t_active = this;
}

ChangesScope::~ChangesScope() {
    t_active = m_outer;
}

ChangesScope* ChangesScope::Active() {
    return t_active;
}

} // namespace live
