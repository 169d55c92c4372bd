// PgCluster: a throwaway PostgreSQL cluster for tests. It runs initdb in a fresh temporary folder, starts
// the server with pg_ctl listening only on a Unix socket inside that folder (no TCP at all), creates one
// database, and stops the server and removes the folder when it is destroyed.
//
//   orvo::test::PgCluster cluster;
//   if (!cluster.start(error)) ...           // PgCluster::binDir() empty: PostgreSQL is not installed
//   PQconnectdb(cluster.conninfo().c_str());  // "host=/tmp/orvo-pg-XXXXXX port=5432 dbname=orvo user=orvo"
//
// The database is SQL_ASCII with the C locale, as the counter store needs (text holds GBK bytes).
// When the test process runs as root, the cluster belongs to "nobody" (PostgreSQL refuses to run as root).
// Clean-up does not rely on the test process ending well: a small guard process, started with the
// cluster, waits on a pipe from the test process and, when that pipe closes for any reason (normal exit,
// a crash, SIGKILL), stops the server (killing the postmaster by its pid file as a last resort) and removes
// the folder.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace orvo::test {

class PgCluster {
public:
    PgCluster() = default;
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // The newest /usr/lib/postgresql/<version>/bin holding initdb, pg_ctl and postgres, or the folder
    // named by ORVO_PG_BINDIR; empty when none is there.
    static std::string binDir();

    // True while the process exists and is not a zombie.
    static bool processRunning(pid_t pid);

    // initdb, start and create the database; on failure everything made so far is removed again.
    bool start(std::string& error);
    // Stops the server and removes the folder; safe to call twice.
    void stop();

    bool running() const { return m_postmaster > 0; }
    const std::string& folder() const { return m_folder; }
    const std::string& database() const { return m_database; }
    pid_t postmasterPid() const { return m_postmaster; }
    // libpq keyword/value connection string for the database (or another database of the cluster).
    std::string conninfo() const { return conninfo(m_database); }
    std::string conninfo(const std::string& database) const;

private:
    bool startGuard(std::string& error);
    void stopGuard();
    bool run(const std::vector<std::string>& argv, bool asOwner, std::string& error);

    std::string m_bin;
    std::string m_folder;
    std::string m_database = "orvo";
    std::string m_user = "orvo";
    pid_t m_postmaster = 0;
    pid_t m_guard = 0;
    int m_guardPipe = -1;
    bool m_asNobody = false;
};

} // namespace orvo::test
