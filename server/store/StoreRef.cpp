#include "server/store/StoreRef.h"

#include "server/store/sqlite/SqliteStore.h"

namespace orvo::server {

StoreRef::StoreRef(Store& store) : m_store(&store) {}

StoreRef::StoreRef(Db& db) : m_owned(std::make_unique<sqlite::SqliteStore>(db)), m_store(m_owned.get()) {}

StoreRef::~StoreRef() = default;

} // namespace orvo::server
