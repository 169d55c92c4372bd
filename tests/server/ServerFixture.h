// One demo counter server for the whole test program: a small demo database with a fixed business
// date, served on a system-chosen loopback port, plus a read-only connection to the same file for
// working out what a reply should hold.
#pragma once

#include "RawClient.h"

#include "server/CounterServer.h"
#include "server/store/sqlite/Db.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvo::server {
class Store;
}

namespace orvo::test {

inline constexpr const char* kToday = "2026.12.07";

struct DemoServer {
    std::string dir;
    std::string dbPath;
    server::Db oracle;
    std::unique_ptr<server::CounterServer> server;
    int port = -1;
};

// Created on first use, stopped at exit.
DemoServer& demo();

// A client connected to the demo server and logged in as the operator (empty name: not logged in).
void connectAs(RawClient& client, const std::string& name);

// Runs a COUNT-like query with text parameters on the oracle connection.
long long scalar(const std::string& sql, const std::vector<std::string>& params = {});

// The bytes of admin's 16477 reply (every stop-loss rule, any validity) run straight through the
// handler on store, with the request's sequence number seq.
std::string adminStopProfitReply(server::Store& store, std::uint32_t seq = 1);

// A temporary directory removed with its files at destruction.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
};

// A small demo database of its own, dated kToday, with a read-only and a writing connection to it; ok
// says whether all of it could be made.
struct WritableDemo {
    explicit WritableDemo(const std::string& fileName);
    TempDir dir;
    std::string path;
    server::Db reader, writer;
    bool ok = false;
};

} // namespace orvo::test
