// Demo data for a fresh database, generated deterministically from a seed and the business date.
#pragma once

#include "server/store/sqlite/Db.h"

#include <cstdint>
#include <string>

namespace orvo::server {

enum class DemoSize { Small, Large };

struct DemoOptions {
    DemoSize size = DemoSize::Small;
    std::uint64_t seed = 20261207;
    std::string today; // "YYYY.MM.DD": validity dates are set around it; empty: the local date
};

// Small: a few hundred rules of every kind, for tests and the embedded demo.
// Large: in addition 105,000 stop-loss / take-profit rules (100,000 of them within validity) and
// 20,000 contracts, for benchmarks.
inline constexpr int kLargeStopProfitRules = 105000;
inline constexpr int kLargeStopProfitValid = 100000;

// Fills every table in one transaction. The database must hold the schema and no data.
bool seedDemo(Db& db, const DemoOptions& options, std::string& error);

// Code tables that never change with the seed: exchanges, dictionaries, currencies and the like.
bool seedCodeTables(Db& db, std::string& error);

} // namespace orvo::server
