#include "server/store/postgres/PgTransaction.h"

namespace orvo::server::pg {

PgTransaction::PgTransaction(PgConnection& conn, std::string& error) : m_conn(conn) {
    m_open = m_conn.exec("BEGIN", error);
}

PgTransaction::~PgTransaction() {
    if (!m_open || !m_conn.isOpen())
        return;
    std::string ignored;
    // A failed rollback leaves the connection inside a transaction; a pool drops such a connection.
    m_conn.exec("ROLLBACK", ignored);
}

bool PgTransaction::commit(std::string& error) {
    if (!m_open) {
        error = "no transaction to commit";
        return false;
    }
    m_open = false;
    // COMMIT of a transaction that failed earlier answers success but rolls back: report it as a failure.
    const bool failedEarlier = PQtransactionStatus(m_conn.handle()) == PQTRANS_INERROR;
    if (!m_conn.exec("COMMIT", error))
        return false;
    if (failedEarlier) {
        error = "the transaction failed earlier and was rolled back";
        return false;
    }
    return true;
}

} // namespace orvo::server::pg
