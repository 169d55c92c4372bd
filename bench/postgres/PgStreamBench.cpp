// 100,000 rule-like rows (24 columns, ~200 bytes each) read from PostgreSQL over a Unix socket, two ways:
//   Streamed  single-row mode: one row held at a time (what the server does for large replies)
//   Whole     the result held at once, for comparison of time and of what streaming costs
// Each run reports rows, bytes read and the most rows held at once (held_rows).
#include "server/store/postgres/PgConnection.h"
#include "tests/support/PgCluster.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace orvo;
using server::pg::PgConnection;
using server::pg::PgParams;
using server::pg::PgResult;
using server::pg::PgRow;

constexpr std::int64_t kRows = 100000;

struct Setup {
    test::PgCluster cluster;
    PgConnection conn;
    bool ok = false;

    Setup() {
        std::string error;
        if (test::PgCluster::binDir().empty()) {
            std::fprintf(stderr, "PostgreSQL server binaries not installed: nothing to measure\n");
            return;
        }
        if (!cluster.start(error) || !conn.open(cluster.conninfo(), error) ||
            !conn.exec(
                "CREATE TABLE r AS SELECT n AS lsh, n % 6 AS kind, lpad((n % 5000)::text, 8, '0') AS khh,"
                " 'IF' || (2601 + n % 12) AS hydm, (n % 2)::int AS mmfx, (n % 3)::int AS kpfx,"
                " (n % 50)::int AS lots, (3500 + n % 400)::text || '.2' AS price, 0 AS filled,"
                " 0 AS cancelled, '09:31:07' AS set_time, '2026.12.07' AS set_date,"
                " '2026.12.31' AS valid_date, 1 AS pdfx, (3600 + n % 400)::text AS trig_price,"
                " '5' AS ticks_profit, '8' AS ticks_loss, '0' AS a, '0' AS b, '0' AS c, '0' AS d,"
                " md5(n::text) AS order_no, '\xd2\xd1\xc9\xe8\xd6\xc3' AS status_text, 0 AS tllx"
                " FROM generate_series(1, 100000) AS n; ANALYZE r",
                error)) {
            std::fprintf(stderr, "cannot set up the cluster: %s\n", error.c_str());
            std::exit(1);
        }
        ok = true;
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

constexpr const char* kSql = "SELECT * FROM r WHERE lsh <= $1 ORDER BY lsh";

void countRow(const PgRow& row, std::int64_t& bytes) {
    for (int c = 0; c < row.columns(); ++c)
        bytes += static_cast<std::int64_t>(row.text(c).size());
}

void Streamed(benchmark::State& state) {
    Setup& s = setup();
    if (!s.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    std::int64_t bytes = 0, rows = 0;
    int held = 0;
    for (auto _ : state) {
        std::string error;
        rows = s.conn.stream(
            kSql, PgParams().add(kRows),
            [&](const PgRow& row) {
                countRow(row, bytes);
                held = std::max(held, row.rowsHeld());
                return true;
            },
            error);
        if (rows != kRows)
            state.SkipWithError(error.c_str());
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["held_rows"] = held;
    state.SetBytesProcessed(bytes);
    state.SetItemsProcessed(state.iterations() * kRows);
}

void Whole(benchmark::State& state) {
    Setup& s = setup();
    if (!s.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    std::int64_t bytes = 0;
    int held = 0;
    for (auto _ : state) {
        std::string error;
        PgResult result = s.conn.query(kSql, PgParams().add(kRows), error);
        if (!result)
            state.SkipWithError(error.c_str());
        held = result.rows();
        for (int i = 0; i < result.rows(); ++i)
            countRow(result.row(i), bytes);
    }
    state.counters["held_rows"] = held;
    state.SetBytesProcessed(bytes);
    state.SetItemsProcessed(state.iterations() * kRows);
}

BENCHMARK(Streamed)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Whole)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
