#include "client/EmbeddedServer.h"

#include "server/CounterServer.h"
#include "server/common/Dates.h"
#include "server/demo/MarketSimulator.h"
#include "server/demo/PrepareStore.h"
#include "server/store/sqlite/Schema.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

// The demo world is generated around the day it was seeded (rules valid for some days from then, orders
// placed that day). The server keeps that day as its business date, so the demo shows the same valid and
// expired rules whenever it runs; the day is kept beside the database.
std::string demoDatePath(const std::string& databasePath) {
    return databasePath + ".date";
}

// The demo database holds password hashes and customers' data: only its owner may read it. SQLite gives
// its -wal and -shm files the database's mode, so a database created 0600 keeps them private too; one
// left readable by an earlier version is tightened.
bool makePrivate(const std::string& databasePath, bool fresh, std::string& error) {
    if (fresh) {
        const int fd = ::open(databasePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = "cannot create " + databasePath + ": " + std::strerror(errno);
            return false;
        }
        ::close(fd);
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const std::string path = databasePath + suffix;
        if (::chmod(path.c_str(), 0600) != 0 && errno != ENOENT) {
            error = "cannot restrict " + path + " to its owner: " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

std::string readDemoDate(const std::string& databasePath) {
    std::ifstream in(demoDatePath(databasePath));
    std::string date;
    long days = 0;
    if (in >> date && orvo::server::parseDate(date, days))
        return date;
    return {};
}

bool migrateDemo(const std::string& path, std::string& error) {
    orvo::server::Db db;
    int from = 0;
    return db.open(path, false, error) && orvo::server::migrateSchema(db, from, error);
}

// "demo.db" -> "demo-simulated-<pid>.db", beside it: each client that simulates plays on its own copy.
std::string simulatedCopyPath(const std::string& databasePath) {
    const std::filesystem::path path(databasePath);
    return (path.parent_path() /
            (path.stem().string() + "-simulated-" + std::to_string(::getpid()) + path.extension().string()))
        .string();
}

void removeDatabaseFiles(const std::string& path) {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        std::filesystem::remove(path + suffix, ignored);
}

// A fresh private copy of the database as it is now: VACUUM INTO fills the empty file made owner-only.
bool copyDatabase(const std::string& from, const std::string& to, std::string& error) {
    removeDatabaseFiles(to);
    if (!makePrivate(to, true, error))
        return false;
    orvo::server::Db db;
    orvo::server::Statement copy;
    if (!db.open(from, false, error) || !db.prepare("VACUUM INTO ?", copy, error))
        return false;
    copy.bind(1, to);
    if (!copy.execute()) {
        error = "cannot copy the demo database to " + to + ": " + db.lastError();
        return false;
    }
    return true;
}

} // namespace

EmbeddedServer::EmbeddedServer(Logger log) : m_log(std::move(log)) {}

EmbeddedServer::~EmbeddedServer() {
    Stop();
}

bool EmbeddedServer::Start(const std::string& databasePath, std::string& error,
                           const EmbeddedSimulation& simulation) {
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
    std::string businessDate = fresh ? std::string() : readDemoDate(databasePath);
    if (fresh) {
        businessDate = orvo::server::localDate();
        if (m_log)
            m_log("creating the demo database " + databasePath + " for " + businessDate);
    }

    if (!makePrivate(databasePath, fresh, error))
        return false;

    orvo::server::DemoOptions demo; // the small demo, dated around its business date
    demo.today = businessDate;
    // The demo database is the client's own: one an older version of the client made is brought
    // forward here, where a brokerage's database would wait for an explicit migrate.
    if (!fresh && !migrateDemo(databasePath, error)) {
        error = databasePath + ": " + error;
        return false;
    }
    if (!orvo::server::prepareStore(databasePath, &demo, error)) {
        error = databasePath + ": " + error;
        return false;
    }
    if (fresh)
        std::ofstream(demoDatePath(databasePath)) << businessDate << "\n";

    std::string servedPath = databasePath;
    if (simulation.rate > 0) {
        m_copyPath = simulatedCopyPath(databasePath);
        if (!copyDatabase(databasePath, m_copyPath, error)) {
            Stop();
            return false;
        }
        servedPath = m_copyPath;
    }

    orvo::server::ServerOptions options;
    options.dbPath = servedPath;
    options.today = businessDate; // empty (an older database without its date): the local date
    Logger log = m_log;
    options.log = [log](std::string_view line) {
        if (log)
            log("server: " + std::string(line));
    };
    m_server = std::make_unique<orvo::server::CounterServer>(options);
    m_port = m_server->start("127.0.0.1", 0, error);
    if (m_port < 0) {
        Stop();
        return false;
    }
    if (simulation.rate > 0) {
        orvo::server::SimulatorOptions simulated;
        simulated.rate = simulation.rate;
        simulated.seed = simulation.seed;
        simulated.today = businessDate.empty() ? orvo::server::localDate() : businessDate;
        m_simulator = std::make_unique<orvo::server::MarketSimulator>(simulated);
        if (!m_simulator->start(servedPath, error)) {
            error = "cannot simulate a session: " + error;
            Stop();
            return false;
        }
        if (m_log)
            m_log("simulating a session on " + servedPath + ": " +
                  (std::ostringstream() << simulation.rate).str() + " changes a second, seed " +
                  std::to_string(simulation.seed));
    }
    return true;
}

void EmbeddedServer::Stop() {
    if (m_simulator)
        m_simulator->stop(); // before the server: no change lands on a server going away
    m_simulator.reset();
    if (m_server)
        m_server->stop();
    m_server.reset();
    m_port = 0;
    if (!m_copyPath.empty())
        removeDatabaseFiles(m_copyPath);
    m_copyPath.clear();
}
