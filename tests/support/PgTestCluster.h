// One throwaway PostgreSQL cluster shared by the tests of a test program, started by the first test that
// asks for it and stopped by the GoogleTest environment's TearDown (and, failing that, by the cluster's
// destructor or its guard process). Tests derive their fixture from PgClusterTest:
//
//   class MyTest : public orvo::test::PgClusterTest {};
//   TEST_F(MyTest, X) { PQconnectdb(cluster().conninfo().c_str()); ... }
//
// Without PostgreSQL's server binaries the tests are skipped, saying why; a cluster that will not start
// fails them.
#pragma once

#include "tests/support/PgCluster.h"

#include <gtest/gtest.h>

#include <string>

namespace orvo::test {

class PgClusterEnvironment : public ::testing::Environment {
public:
    static PgClusterEnvironment& instance() {
        static PgClusterEnvironment* env = [] {
            auto* e = new PgClusterEnvironment;
            ::testing::AddGlobalTestEnvironment(e); // GoogleTest owns it from here
            return e;
        }();
        return *env;
    }

    // The running cluster, or nullptr with error set.
    PgCluster* cluster(std::string& error) {
        if (!m_tried) {
            m_tried = true;
            if (!m_cluster.start(m_error))
                m_error = "cannot start a PostgreSQL cluster: " + m_error;
        }
        error = m_error;
        return m_cluster.running() ? &m_cluster : nullptr;
    }

    void TearDown() override {
        m_cluster.stop();
        m_tried = false; // a repeated run starts a fresh one
        m_error.clear();
    }

private:
    PgCluster m_cluster;
    bool m_tried = false;
    std::string m_error;
};

// Registered before main() runs the tests, so that TearDown is called at the end of the run.
inline const bool kPgClusterEnvironmentRegistered = (PgClusterEnvironment::instance(), true);

class PgClusterTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (PgCluster::binDir().empty())
            GTEST_SKIP() << "PostgreSQL server binaries not installed (/usr/lib/postgresql/*/bin): "
                            "install the postgresql package to run the PostgreSQL store tests";
        std::string error;
        m_cluster = PgClusterEnvironment::instance().cluster(error);
        ASSERT_NE(m_cluster, nullptr) << error;
    }
    PgCluster& cluster() { return *m_cluster; }

private:
    PgCluster* m_cluster = nullptr;
};

} // namespace orvo::test
