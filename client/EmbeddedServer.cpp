#include "client/EmbeddedServer.h"

#include "server/CounterServer.h"
#include "server/Store.h"

#include <filesystem>
#include <system_error>

EmbeddedServer::EmbeddedServer(Logger log) : m_log(std::move(log)) {}

EmbeddedServer::~EmbeddedServer() {
    Stop();
}

bool EmbeddedServer::Start(const std::string& databasePath, std::string& error) {
    Stop();
    std::error_code fsError;
    const std::filesystem::path folder = std::filesystem::path(databasePath).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, fsError);
    if (fsError) {
        error = "cannot create " + folder.string() + ": " + fsError.message();
        return false;
    }
    const bool fresh = !std::filesystem::exists(databasePath, fsError);
    if (fresh && m_log)
        m_log("creating the demo database " + databasePath);

    orvo::server::DemoOptions demo; // small demo, validity dates around today
    if (!orvo::server::prepareStore(databasePath, &demo, error)) {
        error = databasePath + ": " + error;
        return false;
    }

    orvo::server::ServerOptions options;
    options.dbPath = databasePath;
    Logger log = m_log;
    options.log = [log](std::string_view line) {
        if (log)
            log("server: " + std::string(line));
    };
    m_server = std::make_unique<orvo::server::CounterServer>(options);
    m_port = m_server->start("127.0.0.1", 0, error);
    if (m_port < 0) {
        m_server.reset();
        m_port = 0;
        return false;
    }
    return true;
}

void EmbeddedServer::Stop() {
    if (m_server)
        m_server->stop();
    m_server.reset();
    m_port = 0;
}
