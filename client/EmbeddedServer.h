// The demo counter server inside the client: a SQLite database in the user's data folder, seeded with
// the demo data on first use, served on a loopback port the system chooses.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace orvo::server {
class CounterServer;
class MarketSimulator;
} // namespace orvo::server

// A trading session played on the demo data while the server runs (rate 0: none).
struct EmbeddedSimulation {
    double rate = 0; // changes per second
    unsigned long seed = 1;
};

class EmbeddedServer {
public:
    using Logger = std::function<void(const std::string&)>;
    explicit EmbeddedServer(Logger log = {});
    ~EmbeddedServer(); // stops the server
    EmbeddedServer(const EmbeddedServer&) = delete;
    EmbeddedServer& operator=(const EmbeddedServer&) = delete;

    // Creates (and seeds) the database when it is new, then serves on 127.0.0.1. False with the reason.
    // With a simulation the server and the session play on a copy made for this run (beside the
    // database, one for each client, removed by Stop), so that the demo data itself stays as seeded.
    bool Start(const std::string& databasePath, std::string& error,
               const EmbeddedSimulation& simulation = {});
    void Stop();
    int Port() const { return m_port; }

private:
    Logger m_log;
    std::unique_ptr<orvo::server::CounterServer> m_server;
    std::unique_ptr<orvo::server::MarketSimulator> m_simulator;
    std::string m_copyPath; // the simulated session's copy of the database; empty: none
    int m_port = 0;
};
