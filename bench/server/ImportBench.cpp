// Import of 100,000 stop-loss / take-profit rules from CSV into a fresh database: parsing, checking
// every value and reference, inserting and indexing, in one transaction. The same file into a SQLite
// file and into a PostgreSQL database of a throwaway cluster (skipped without PostgreSQL).
#include "server/admin/AdminStore.h"
#include "server/admin/TableTransfer.h"
#include "server/demo/PrepareStore.h"
#include "server/store/postgres/PgConnection.h"
#include "tests/support/PgCluster.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace orvo::server;

constexpr int kRules = 100000;

constexpr const char* kYyb = "JGBM,JGJC,JGLB\n0101,b,1\n";

std::string customersCsv() {
    std::string customers = "khh,name,yyb,branch\n";
    for (int i = 0; i < 10; ++i)
        customers += "01010000000" + std::to_string(i) + ",c,0101,0101\n";
    return customers;
}

std::string rulesCsv(int count = kRules) {
    std::string csv =
        "lsh,kind,khh,status_text,cfzt,jys,zqlb,hydm,jybm,mmfx,kpfx,lots,price,set_time,set_date,"
        "valid_date,ticks_profit,ticks_loss,off_profit_trig,off_profit_order,off_loss_trig,"
        "off_loss_order\n";
    for (int i = 0; i < count; ++i)
        csv += std::to_string(100000 + i) + ",3,01010000000" + std::to_string(i % 10) +
               ",等待触发,0,SQ,rb,rb2705,80000005,1,1,3,3609.00,09:20:30,2026.11.27,2026.12.25,4,1,7.00,17."
               "00,1.00,"
               "9.00\n";
    return csv;
}

void BM_ImportRules(benchmark::State& state) {
    const std::string csv = rulesCsv();
    std::string dir = (std::filesystem::temp_directory_path() / "orvo-import-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = dir + "/import" + std::to_string(run++) + ".db";
        std::string error;
        const std::string customers = customersCsv();
        Db db;
        std::size_t rows = 0;
        if (!prepareStore(path, nullptr, error) || !db.open(path, false, error) ||
            !admin::importTable(db, "YYB", "yyb.csv", kYyb, {}, rows, error) ||
            !admin::importTable(db, "customers", "customers.csv", customers, {}, rows, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.ResumeTiming();
        if (!admin::importTable(db, "rules", "rules.csv", csv, {}, rows, error) || rows != kRules) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRules);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ImportRules)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ImportRulesPostgres(benchmark::State& state) {
    static orvo::test::PgCluster cluster;
    std::string error;
    if (orvo::test::PgCluster::binDir().empty() || (!cluster.running() && !cluster.start(error))) {
        state.SkipWithError(("no PostgreSQL cluster: " + error).c_str());
        return;
    }
    const std::string csv = rulesCsv();
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string name = "import" + std::to_string(run++);
        pg::PgConnection admin;
        std::size_t rows = 0;
        std::unique_ptr<admin::AdminStore> store;
        if (!admin.open(cluster.conninfo(), error) ||
            !admin.exec(("CREATE DATABASE " + name).c_str(), error) ||
            !(store = admin::openPgAdminStore(cluster.conninfo(name), true, error)) ||
            !admin::importTable(*store, "YYB", "yyb.csv", kYyb, {}, rows, error) ||
            !admin::importTable(*store, "customers", "customers.csv", customersCsv(), {}, rows, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.ResumeTiming();
        if (!admin::importTable(*store, "rules", "rules.csv", csv, {}, rows, error) || rows != kRules) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRules);
}
BENCHMARK(BM_ImportRulesPostgres)->Unit(benchmark::kMillisecond)->Iterations(3);

// The customers replaced (--replace) under 200,000 rules: a customer's write must not touch its rules.
void BM_ReplaceCustomersUnderRules(benchmark::State& state) {
    std::string dir = (std::filesystem::temp_directory_path() / "orvo-import-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = dir + "/replace.db";
    const std::string customers = customersCsv();
    std::string error;
    Db db;
    std::size_t rows = 0;
    if (!prepareStore(path, nullptr, error) || !db.open(path, false, error) ||
        !admin::importTable(db, "YYB", "yyb.csv", kYyb, {}, rows, error) ||
        !admin::importTable(db, "customers", "customers.csv", customers, {}, rows, error) ||
        !admin::importTable(db, "rules", "rules.csv", rulesCsv(2 * kRules), {}, rows, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    admin::ImportOptions replace;
    replace.replace = true;
    for (auto _ : state)
        if (!admin::importTable(db, "customers", "customers.csv", customers, replace, rows, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReplaceCustomersUnderRules)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
