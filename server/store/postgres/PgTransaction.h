// A transaction on one connection: commit() makes it stick; leaving the scope without commit rolls back.
#pragma once

#include "server/store/postgres/PgConnection.h"

#include <string>

namespace orvo::server::pg {

class PgTransaction {
public:
    // Starts the transaction; ok() tells whether it did, error why not.
    PgTransaction(PgConnection& conn, std::string& error);
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;

    bool ok() const { return m_open; }
    bool commit(std::string& error);

private:
    PgConnection& m_conn;
    bool m_open = false;
};

} // namespace orvo::server::pg
