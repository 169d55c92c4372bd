// Running as a service: the configuration checked line by line, a reload on SIGHUP that swaps the TLS
// certificate for new handshakes and refuses a bad file, the health and metrics port, and the
// administration commands' care with files (backups 0600, no database made up from a typo).
#include "CounterdProcess.h"
#include "ServerFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace orvo::test {
namespace {

std::string write(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.path + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

bool makeCertificate(const std::string& cert, const std::string& key, const std::string& name) {
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                             "-days 1 -subj /CN=" +
                             name + " -keyout " + key + " -out " + cert + " 2>/dev/null";
    return std::system(make.c_str()) == 0;
}

// The common name of the certificate a new TLS handshake on the port shows; empty when none.
std::string handshakeName(int port) {
    std::string name;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    SSL* ssl = SSL_new(ctx);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && SSL_set_fd(ssl, fd) == 1 &&
        SSL_connect(ssl) == 1) {
        if (X509* peer = SSL_get1_peer_certificate(ssl)) {
            char text[256] = {};
            X509_NAME_get_text_by_NID(X509_get_subject_name(peer), NID_commonName, text, sizeof text);
            name = text;
            X509_free(peer);
        }
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    ::close(fd);
    return name;
}

TEST(Service, CheckConfigPassesAGoodFileAndNamesEachBadLine) {
    TempDir dir;
    ASSERT_TRUE(makeCertificate(dir.path + "/cert.pem", dir.path + "/key.pem", "localhost"));
    // The key comes from the service's credentials, as LoadCredential= provides them.
    const std::string good = write(dir, "good.conf",
                                   "# comment\nlisten = \"127.0.0.1:7001\"\ndb = " + dir.path +
                                       "/c.db\nmax-connections = 1024 ; default\ntls-cert = " + dir.path +
                                       "/cert.pem\ntls-key = '@credential:key.pem'\n");
    setenv("CREDENTIALS_DIRECTORY", dir.path.c_str(), 1);
    ProgramRun run = counterd({"check-config", "--config", good});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("ok"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("readable") == std::string::npos &&
                  run.err.find("not proven") == std::string::npos,
              geteuid() != 0)
        << "as root, the check says what it cannot prove: " << run.err;
    unsetenv("CREDENTIALS_DIRECTORY");
    run = counterd({"check-config", "--config", good});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("CREDENTIALS_DIRECTORY"), std::string::npos) << run.err;

    const std::string bad = write(dir, "bad.conf",
                                  "listen = 127.0.0.1:7001\nmax-conections = 400\nidle-timeout = 0\n"
                                  "log-level = \"loud\n");
    run = counterd({"check-config", "--config", bad});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("bad.conf:2: unknown option 'max-conections' (did you mean max-connections?)"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("bad.conf:3: idle-timeout"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("bad.conf:4: log-level"), std::string::npos) << run.err;
    // Serving with it does not start; neither does an administration command.
    run = counterd({"--config", bad, "--db", dir.path + "/c.db", "--listen", "127.0.0.1:0"});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err.find("listening"), std::string::npos) << run.err;
}

// The service manager's side of the notification socket.
struct NotifySocket {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    explicit NotifySocket(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        timeval tv{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~NotifySocket() { ::close(fd); }
    std::string next() {
        char buffer[512];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }
};

TEST(Service, SighupSwapsTheCertificateForNewHandshakesAndRefusesABadFile) {
    TempDir dir;
    const std::string cert = dir.path + "/cert.pem", key = dir.path + "/key.pem";
    ASSERT_TRUE(makeCertificate(cert, key, "first"));
    const std::string conf = write(dir, "c.conf", "tls-cert = " + cert + "\ntls-key = " + key + "\n");
    NotifySocket manager(dir.path + "/notify");
    setenv("NOTIFY_SOCKET", (dir.path + "/notify").c_str(), 1);
    setenv("WATCHDOG_USEC", "1000000", 1);
    CounterdChild child({"--config", conf, "--listen", "127.0.0.1:0", "--db", dir.path + "/c.db"});
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    const int port = child.loopbackPort(20000);
    ASSERT_GT(port, 0) << child.output;
    EXPECT_EQ(manager.next().rfind("READY=1\n", 0), 0u);
    EXPECT_EQ(manager.next(), "WATCHDOG=1");
    EXPECT_EQ(handshakeName(port), "first");

    // SIGUSR1 is no longer fatal.
    kill(child.pid, SIGUSR1);
    EXPECT_TRUE(child.waitFor("SIGUSR1 ignored", 5000)) << child.output;

    // A renewed certificate under the same names, and a changed limit.
    ASSERT_TRUE(makeCertificate(cert, key, "renewed"));
    write(dir, "c.conf", "tls-cert = " + cert + "\ntls-key = " + key + "\nmax-connections = 77\n");
    kill(child.pid, SIGHUP);
    EXPECT_TRUE(child.waitFor("max-connections 1024 -> 77", 5000)) << child.output;
    EXPECT_EQ(handshakeName(port), "renewed");

    // A file with a mistake changes nothing.
    write(dir, "c.conf", "tls-cert = " + cert + "\ntls-key = " + key + "\nmax-connection = 5\n");
    kill(child.pid, SIGHUP);
    EXPECT_TRUE(child.waitFor("reload refused", 5000)) << child.output;
    EXPECT_EQ(handshakeName(port), "renewed");
    kill(child.pid, SIGTERM);
    EXPECT_EQ(child.exitCode(10000), 0) << child.output;
}

TEST(Service, BackupsAndExportsArePrivateAndATypoMakesNoDatabase) {
    TempDir dir;
    const std::string db = dir.path + "/c.db";
    // migrate alone makes a database; --if-needed is quiet on a current one.
    ASSERT_EQ(counterd({"migrate", "--db", db}).code, 0);
    ProgramRun run = counterd({"migrate", "--if-needed", "--db", db});
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(run.err.empty()) << run.err;

    for (const std::vector<std::string>& command : {std::vector<std::string>{"backup", dir.path + "/b.db"},
                                                    {"export", "YYB", dir.path + "/x.csv"},
                                                    {"tables"},
                                                    {"operator", "list"}}) {
        std::vector<std::string> args = command;
        args.insert(args.end(), {"--db", dir.path + "/typo.db"});
        run = counterd(args);
        EXPECT_EQ(run.code, 1) << command[0];
        EXPECT_NE(run.err.find("typo.db: no such database"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/typo.db"));

    ASSERT_EQ(counterd({"backup", dir.path + "/b.db", "--db", db}).code, 0);
    ASSERT_EQ(counterd({"export", "YYB", dir.path + "/x.csv", "--db", db}).code, 0);
    for (const char* name : {"/b.db", "/x.csv"}) {
        struct stat info {};
        ASSERT_EQ(stat((dir.path + name).c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
    }

    // Into a folder, as the backup timer does: timed names, the oldest beyond --keep removed, files of
    // other names left alone.
    const std::string folder = dir.path + "/backups";
    std::filesystem::create_directory(folder);
    for (const char* name : {"/counter-20200101T000000Z.db", "/counter-20200102T000000Z.db", "/notes.txt"})
        std::ofstream(folder + name) << "x";
    run = counterd({"backup", folder, "--keep", "2", "--db", db});
    ASSERT_EQ(run.code, 0) << run.err;
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    ASSERT_EQ(left.size(), 3u) << run.err;
    EXPECT_EQ(left[0], "counter-20200102T000000Z.db");
    EXPECT_EQ(left[1].substr(0, 10), "counter-20") << "today's";
    EXPECT_NE(left[1], left[0]);
    EXPECT_EQ(left[2], "notes.txt");
    EXPECT_NE(run.err.find("removed the older backup " + folder + "/counter-20200101T000000Z.db"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(counterd({"backup", dir.path + "/b2.db", "--keep", "2", "--db", db}).code, 2)
        << "--keep without a folder";
}

} // namespace
} // namespace orvo::test
