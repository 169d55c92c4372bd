// A database of the test cluster made anew (dropped first when a test before left it), for the tests
// that need one of their own.
#pragma once

#include "server/store/postgres/PgConnection.h"
#include "tests/support/PgCluster.h"

#include <gtest/gtest.h>

#include <string>

namespace orvo::test {

// Its connection string.
inline std::string freshPgDatabase(PgCluster& cluster, const std::string& name) {
    std::string error;
    server::pg::PgConnection admin;
    EXPECT_TRUE(admin.open(cluster.conninfo(), error)) << error;
    EXPECT_TRUE(admin.exec(("DROP DATABASE IF EXISTS " + name).c_str(), error)) << error;
    EXPECT_TRUE(admin.exec(("CREATE DATABASE " + name).c_str(), error)) << error;
    return cluster.conninfo(name);
}

} // namespace orvo::test
