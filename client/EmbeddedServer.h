// The demo counter server inside the client: a SQLite database in the user's data folder, seeded with
// the demo data on first use, served on a loopback port the system chooses.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace orvo::server {
class CounterServer;
}

class EmbeddedServer {
public:
    using Logger = std::function<void(const std::string&)>;
    explicit EmbeddedServer(Logger log = {});
    ~EmbeddedServer(); // stops the server
    EmbeddedServer(const EmbeddedServer&) = delete;
    EmbeddedServer& operator=(const EmbeddedServer&) = delete;

    // Creates (and seeds) the database when it is new, then serves on 127.0.0.1. False with the reason.
    bool Start(const std::string& databasePath, std::string& error);
    void Stop();
    int Port() const { return m_port; }

private:
    Logger m_log;
    std::unique_ptr<orvo::server::CounterServer> m_server;
    int m_port = 0;
};
