// What names a PostgreSQL database's incarnation (StateToken.h), as one SQL expression of text: when
// the cluster started (another cluster behind the same address, a failover, a restart), which database
// (a dump restored into a new one) and which commit_clock table (a dump restored over the live database
// with --clean recreates it). Read with the state it goes with, and by the change feed every second.
// to_regclass takes no lock, so the feed's look is not held up by a restore in progress.
#pragma once

namespace orvo::server::pg {

inline constexpr const char* kPgIncarnationSql =
    "pg_postmaster_start_time()::text || ' ' || (SELECT oid FROM pg_database WHERE datname = "
    "current_database())::text || ' ' || coalesce(to_regclass('commit_clock')::oid::text, '')";

} // namespace orvo::server::pg
