// The command line and the configuration file together: what wins, what is refused, and when the demo
// server runs embedded.
#include "client/ClientConfig.h"
#include "client/ClientOptions.h"
#include "client/HostSession.h"
#include "host/cfg/OrvoIni.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::optional<ClientOptions> parse(std::vector<const char*> args, std::string& error) {
    args.insert(args.begin(), "orvo-client");
    return ParseClientOptions(static_cast<int>(args.size()), args.data(), error);
}

class IniFile {
public:
    explicit IniFile(const std::string& text) {
        char name[] = "/tmp/orvo-client-test-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        close(fd);
        std::ofstream(path) << text;
        ini.Load(path);
    }
    ~IniFile() { std::remove(path.c_str()); }
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;
    std::string path;
    COrvoIni ini;
};

TEST(ClientOptionsTest, EveryOptionIsRead) {
    std::string error;
    const auto options = parse({"--config",  "a.ini", "--server",   "10.0.0.5:7001", "--operator", "teller",
                                "--script",  "-",     "--trace",    "t.jsonl",       "--open",     "893",
                                "-v",        "-v",    "--simulate", "2.5",           "--seed",     "7",
                                "--refresh", "0"},
                               error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->configPath, "a.ini");
    EXPECT_EQ(options->server, "10.0.0.5:7001");
    EXPECT_EQ(options->operatorName, "teller");
    EXPECT_EQ(options->scriptPath, "-");
    EXPECT_EQ(options->tracePath, "t.jsonl");
    EXPECT_EQ(options->openFunction, 893);
    EXPECT_EQ(options->verbosity, 2);
    EXPECT_EQ(options->simulateRate, 2.5);
    EXPECT_EQ(options->simulateSeed, 7u);
    EXPECT_EQ(options->refreshSeconds, 0) << "0 turns a configured refresh off";
}

TEST(ClientOptionsTest, BadCommandLinesAreRefusedWithTheReason) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases{
        {{"--server", "localhost"}, "HOST:PORT"},
        {{"--server", "localhost:0"}, "HOST:PORT"},
        {{"--server", "localhost:65536"}, "HOST:PORT"},
        {{"--server", ":7001"}, "HOST:PORT"},
        {{"--open", "89x"}, "function number"},
        {{"--open"}, "needs a value"},
        {{"--config", ""}, "non-empty"},
        {{"--frobnicate"}, "unknown argument"},
        {{"--simulate", "0"}, "changes per second"},
        {{"--simulate", "1e9"}, "changes per second"},
        {{"--simulate", "-3"}, "changes per second"},
        {{"--refresh", "86401"}, "seconds from 0"},
        {{"--seed", "x"}, "--seed wants"},
    };
    for (const auto& [args, reason] : cases) {
        std::string error;
        EXPECT_FALSE(parse(args, error)) << args.front();
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(ClientOptionsTest, ModuleInfoTakesAnOptionalPath) {
    std::string error;
    auto options = parse({"--module-info"}, error);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->moduleInfo);
    EXPECT_EQ(options->modulePath, "");
    options = parse({"--module-info", "/x/lib.so"}, error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->modulePath, "/x/lib.so");
}

TEST(ClientConfigTest, NoServerAnywhereMeansTheEmbeddedDemoServerAndItsOperator) {
    IniFile file("[SYSTEM]\nKHHPRE=0101\n");
    ClientConfig config;
    std::string error;
    ASSERT_TRUE(ResolveClientConfig(file.ini, ClientOptions{}, config, error)) << error;
    EXPECT_TRUE(config.embedded);
    EXPECT_EQ(config.operatorName, kDemoOperator);
}

TEST(ClientConfigTest, TheCommandLineWinsOverTheFile) {
    IniFile file(
        "[SERVER]\nAddress = 192.168.1.9:7001\nOperator = teller\nConnectTimeout = 2\nReplyTimeout=45\n");
    ClientConfig config;
    std::string error;
    ASSERT_TRUE(ResolveClientConfig(file.ini, ClientOptions{}, config, error)) << error;
    EXPECT_FALSE(config.embedded);
    EXPECT_EQ(config.host, "192.168.1.9");
    EXPECT_EQ(config.port, 7001);
    EXPECT_EQ(config.operatorName, "teller");
    EXPECT_EQ(config.connectTimeoutMs, 2000);
    EXPECT_EQ(config.replyTimeoutMs, 45000);

    ClientOptions options;
    options.server = "127.0.0.1:7002";
    options.operatorName = "admin";
    ASSERT_TRUE(ResolveClientConfig(file.ini, options, config, error)) << error;
    EXPECT_EQ(config.port, 7002);
    EXPECT_EQ(config.operatorName, "admin");
}

TEST(ClientConfigTest, UnusableValuesAreRefusedWithTheKeyNamed) {
    ClientConfig config;
    std::string error;
    IniFile badAddress("[SERVER]\nAddress = somewhere\n");
    EXPECT_FALSE(ResolveClientConfig(badAddress.ini, ClientOptions{}, config, error));
    EXPECT_NE(error.find("somewhere"), std::string::npos) << error;
    IniFile badTimeout("[SERVER]\nAddress = h:1\nReplyTimeout = 0\n");
    EXPECT_FALSE(ResolveClientConfig(badTimeout.ini, ClientOptions{}, config, error));
    EXPECT_NE(error.find("ReplyTimeout"), std::string::npos) << error;
}

TEST(ClientConfigTest, AServerListIsReadInOrderAndABadEntryIsNamed) {
    ClientConfig config;
    std::string error;
    IniFile list("[SERVER]\nAddress = a:7001, b:7002 ,[::1]:7003\n");
    ASSERT_TRUE(ResolveClientConfig(list.ini, ClientOptions{}, config, error)) << error;
    EXPECT_EQ(config.host + ":" + std::to_string(config.port), "a:7001");
    ASSERT_EQ(config.moreServers.size(), 2u);
    EXPECT_EQ(config.moreServers[0].host, "b");
    EXPECT_EQ(config.moreServers[1].host, "::1");
    EXPECT_EQ(config.moreServers[1].port, 7003);
    for (const char* bad : {"a:7001,", "a:7001,,b:2", "a:7001,b"}) {
        IniFile file(std::string("[SERVER]\nAddress = ") + bad + "\n");
        EXPECT_FALSE(ResolveClientConfig(file.ini, ClientOptions{}, config, error)) << bad;
    }
    EXPECT_FALSE(parse({"--server", "a:1,b:99999"}, error));
    EXPECT_NE(error.find("'b:99999'"), std::string::npos) << error;
}

TEST(ClientConfigTest, TlsComesFromACaFileOrTheSwitchAndNeverForTheEmbeddedServer) {
    IniFile authority("not read as PEM here; it only has to be readable");
    ClientConfig config;
    std::string error;
    const auto withCa = parse({"--server", "10.0.0.5:7001", "--tls-ca", authority.path.c_str()}, error);
    ASSERT_TRUE(withCa) << error;
    IniFile off("[SERVER]\nTls = no\n");
    ASSERT_TRUE(ResolveClientConfig(off.ini, *withCa, config, error)) << error; // the command line wins
    EXPECT_TRUE(config.tls);
    EXPECT_EQ(config.tlsCaFile, authority.path);

    IniFile system("[SERVER]\nAddress = counter.example:7001\nTls = YES\nAllowPlainPassword = on\n");
    ASSERT_TRUE(ResolveClientConfig(system.ini, ClientOptions{}, config, error)) << error;
    EXPECT_TRUE(config.tls);
    EXPECT_TRUE(config.tlsCaFile.empty());
    EXPECT_TRUE(config.allowPlainPassword);

    // A relative TlsCa names the file beside the configuration, not one in the working folder.
    const std::string besideName = authority.path.substr(authority.path.rfind('/') + 1);
    IniFile beside("[SERVER]\nAddress = h:1\nTlsCa = " + besideName + "\n");
    ASSERT_TRUE(ResolveClientConfig(beside.ini, ClientOptions{}, config, error)) << error;
    EXPECT_EQ(config.tlsCaFile, authority.path);

    IniFile embedded("[SERVER]\nTlsCa = " + authority.path + "\n");
    ASSERT_TRUE(ResolveClientConfig(embedded.ini, ClientOptions{}, config, error)) << error;
    EXPECT_TRUE(config.embedded);
    EXPECT_FALSE(config.tls);

    for (const auto& [text, reason] : std::vector<std::pair<std::string, std::string>>{
             {"[SERVER]\nAddress = h:1\nTls = maybe\n", "[SERVER] Tls wants yes or no"},
             {"[SERVER]\nAddress = h:1\nTlsCa = /nonexistent/ca.pem\n", "/nonexistent/ca.pem"},
             {"[SERVER]\nAddress = h:1\nTls = no\nTlsCa = " + authority.path + "\n", "contradict"},
         }) {
        IniFile bad(text);
        EXPECT_FALSE(ResolveClientConfig(bad.ini, ClientOptions{}, config, error)) << text;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

TEST(ClientConfigTest, APlainPasswordToAnotherMachineIsRefusedWithHowToTurnTlsOn) {
    IniFile file("[SERVER]\nAddress = 192.0.2.1:7001\nConnectTimeout = 1\n");
    HostSession session([](int, const std::string&) {});
    std::string error;
    ASSERT_TRUE(session.Configure(file.path, ClientOptions{}, error)) << error;
    EXPECT_EQ(session.Login("teller", "secret", error), LoginResult::Unreachable);
    EXPECT_NE(error.find("in plain text"), std::string::npos) << error;
    EXPECT_NE(error.find("--tls-ca FILE or TlsCa = FILE"), std::string::npos) << error;
}

TEST(ClientConfigTest, TheTemplateConfiguresNothingButDocumentsEveryKey) {
    IniFile file(ConfigTemplate());
    ClientConfig config;
    std::string error;
    ASSERT_TRUE(ResolveClientConfig(file.ini, ClientOptions{}, config, error)) << error;
    EXPECT_TRUE(config.embedded);
    EXPECT_EQ(file.ini.GetValue("SYSTEM", "KHHPRE", "none"), CString("none"));
    for (const char* key : {"Address", "Operator", "ConnectTimeout", "ReplyTimeout", "TlsCa",
                            "Tls =", "AllowPlainPassword", "KHHPRE", "Module"})
        EXPECT_NE(std::string(ConfigTemplate()).find(key), std::string::npos) << key;
}

} // namespace
