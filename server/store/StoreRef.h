// The store a function call reads: one the caller keeps, or a SQLite store made over a connection for
// the call's length (so a call can be set up from an open SQLite connection alone).
#pragma once

#include <memory>

namespace orvo::server {

class Db;
class Store;

class StoreRef {
public:
    StoreRef(Store& store); // NOLINT(google-explicit-constructor): a plain view
    StoreRef(Db& db);       // NOLINT(google-explicit-constructor)
    ~StoreRef();
    StoreRef(const StoreRef&) = delete;
    StoreRef& operator=(const StoreRef&) = delete;

    Store* operator->() const { return m_store; }
    Store& operator*() const { return *m_store; }

private:
    std::unique_ptr<Store> m_owned;
    Store* m_store = nullptr;
};

} // namespace orvo::server
