// The channel over TLS: a verified round trip, servers that cannot prove their name refused with a clear
// reason, and no password in plain text to a machine that is not this one.
#include "tests/com/FixCommTestSupport.h"
#include "tests/support/TestCertificates.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using orvo::test::FakeCounterServer;
using orvo::test::FakeReply;
using orvo::test::MakeTestCertificates;
using orvo::test::TestCertificates;
using orvo::test::WriteTempFile;

namespace {

struct TempFile {
    explicit TempFile(const std::string& text) : path(WriteTempFile("orvo-ca", text)) {}
    ~TempFile() { std::filesystem::remove(path); }
    std::string path;
};

FixCommSettings TlsSettings(const std::string& host, int port, const std::string& caFile) {
    FixCommSettings settings{host, port, "teller", "secret", 2000, 3000};
    settings.tls = true;
    settings.tlsCaFile = caFile;
    return settings;
}

std::string FailureOf(CFixComm& comm) {
    comm.CreateHead(16476, -1);
    EXPECT_FALSE(comm.More(nullptr));
    EXPECT_FALSE(comm.IsConnected());
    return comm.LastFailure().text.str();
}

} // namespace

TEST(FixCommTls, LoginAndAQueryGoThroughAVerifiedConnection) {
    const TestCertificates certificates = MakeTestCertificates("DNS:localhost");
    const TempFile authority(certificates.authorityPem);
    FakeCounterServer server(certificates);
    FakeReply reply;
    for (int i = 1; i <= 3; ++i)
        reply.rows.push_back(RuleRow(i, "rule"));
    server.Script(16476, reply);

    CFixComm comm(TlsSettings("localhost", server.port(), authority.path));
    comm.CreateHead(16476, -1);
    int rows = 0;
    while (comm.More(nullptr))
        ++rows;
    EXPECT_EQ(rows, 3) << comm.LastFailure().text.str();
    EXPECT_TRUE(comm.LastReplyOk());
    ASSERT_EQ(server.Requests(1).size(), 1u);
    EXPECT_EQ(server.Requests(1)[0].Value("554"), "secret");
    EXPECT_TRUE(comm.Heartbeat()); // the session goes on over the same connection
    EXPECT_EQ(server.ConnectionsAccepted(), 1);
}

TEST(FixCommTls, AServerThatCannotProveItsNameIsRefusedWithTheReason) {
    const TestCertificates certificates = MakeTestCertificates("DNS:localhost");
    const TempFile authority(certificates.authorityPem);
    FakeCounterServer server(certificates);

    CFixComm byAddress(
        TlsSettings("127.0.0.1", server.port(), authority.path)); // the certificate names localhost
    EXPECT_NE(FailureOf(byAddress).find("certificate of the counter server does not match host 127.0.0.1"),
              std::string::npos)
        << byAddress.LastFailure().text.str();

    const TempFile stranger(MakeTestCertificates("DNS:localhost").authorityPem);
    CFixComm untrusted(TlsSettings("localhost", server.port(), stranger.path));
    EXPECT_NE(FailureOf(untrusted).find("cannot be trusted"), std::string::npos)
        << untrusted.LastFailure().text.str();

    FakeCounterServer plain;
    CFixComm toPlain(TlsSettings("localhost", plain.port(), authority.path));
    EXPECT_NE(FailureOf(toPlain).find("TLS"), std::string::npos) << toPlain.LastFailure().text.str();

    CFixComm noFile(TlsSettings("localhost", server.port(), "/nonexistent/ca.pem"));
    EXPECT_NE(FailureOf(noFile).find("/nonexistent/ca.pem"), std::string::npos);
    EXPECT_TRUE(server.Requests().empty()); // no password went to any of them
    EXPECT_TRUE(plain.Requests().empty());
}

TEST(FixCommTls, NoPasswordInPlainTextToAnotherMachine) {
    // 192.0.2.1 is a documentation address: nothing answers there, and nothing may be sent to it.
    CFixComm comm(FixCommSettings{"192.0.2.1", 7001, "teller", "secret", 300, 300});
    EXPECT_FALSE(comm.Login());
    EXPECT_EQ(comm.LastFailure().status, kFixCommPlainPassword);
    EXPECT_NE(comm.LastFailure().text.str().find("plain text: turn TLS on"), std::string::npos)
        << comm.LastFailure().text.str();

    FixCommSettings allowed{"192.0.2.1", 7001, "teller", "secret", 300, 300};
    allowed.allowPlainPassword = true; // then it tries, and fails as an unreachable server does
    comm.Configure(allowed);
    EXPECT_FALSE(comm.Login());
    EXPECT_EQ(comm.LastFailure().status, -1);

    FakeCounterServer local; // loopback by name is this machine too
    comm.Configure(FixCommSettings{"localhost", local.port(), "teller", "secret", 2000, 2000});
    EXPECT_TRUE(comm.Login()) << comm.LastFailure().text.str();
}
