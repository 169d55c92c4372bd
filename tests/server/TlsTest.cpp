// The TLS-only port: a client that verifies the certificate logs in and queries rules; a plain-text
// client is told in plain text that the port speaks TLS only, and closed. The certificate is made here with
// the openssl command.
#include "ServerFixture.h"

#include "protocol/Protocol.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvo::test {
namespace {

// A blocking TLS client of the counter channel that verifies the server against ca for "localhost".
class TlsClient {
public:
    ~TlsClient() {
        if (m_ssl)
            SSL_free(m_ssl);
        if (m_ctx)
            SSL_CTX_free(m_ctx);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool connect(int port, const std::string& caFile) {
        m_ctx = SSL_CTX_new(TLS_client_method());
        if (!m_ctx || SSL_CTX_load_verify_locations(m_ctx, caFile.c_str(), nullptr) != 1)
            return false;
        SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{5, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            return false;
        m_ssl = SSL_new(m_ctx);
        SSL_set_fd(m_ssl, m_fd);
        SSL_set_tlsext_host_name(m_ssl, "localhost");
        SSL_set1_host(m_ssl, "localhost");
        return SSL_connect(m_ssl) == 1;
    }
    const char* version() const { return SSL_get_version(m_ssl); }

    Reply call(std::uint32_t function, const Items& items) {
        std::string out;
        proto::FrameBuilder b(out);
        proto::AddRequestHead(b, ++m_seq, function);
        for (const auto& [tag, value] : items)
            b.Add(tag, value);
        Reply reply;
        if (b.Finish() != proto::Error::None ||
            SSL_write(m_ssl, out.data(), static_cast<int>(out.size())) <= 0)
            return reply;
        proto::Frame frame;
        for (;;) {
            const proto::ReadResult r = m_reader.Next(frame);
            if (r == proto::ReadResult::Error)
                return reply;
            if (r == proto::ReadResult::NeedMore) {
                auto space = m_reader.PrepareWrite();
                const int n =
                    SSL_read(m_ssl, space.data(), static_cast<int>(std::min<size_t>(space.size(), 1 << 20)));
                if (n <= 0)
                    return reply;
                m_reader.Commit(static_cast<size_t>(n));
                continue;
            }
            proto::Header header;
            if (proto::ReadHeader(frame.items, header) != proto::Error::None)
                return reply;
            if (header.type == proto::MessageType::End) {
                reply.complete = true;
                reply.status = header.status;
                reply.rowCount = header.rows;
                return reply;
            }
            reply.rows.emplace_back();
        }
    }

private:
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    int m_fd = -1;
    std::uint32_t m_seq = 0;
    proto::FrameReader m_reader;
};

TEST(Tls, LoginAndRuleQueryOverTlsAndAPlainClientIsRefused) {
    TempDir dir;
    const std::string cert = dir.path + "/cert.pem", key = dir.path + "/key.pem";
    const std::string make =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=localhost -addext subjectAltName=DNS:localhost -keyout " +
        key + " -out " + cert + " 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;

    server::ServerOptions o;
    o.dbPath = demo().dbPath;
    o.today = kToday;
    o.tlsCertFile = cert;
    o.tlsKeyFile = key;
    o.log = [](std::string_view) {};
    server::CounterServer s(o);
    std::string error;
    const int port = s.start("127.0.0.1", 0, error);
    ASSERT_GT(port, 0) << error;

    TlsClient tls;
    ASSERT_TRUE(tls.connect(port, cert)) << ERR_error_string(ERR_get_error(), nullptr);
    EXPECT_TRUE(std::string(tls.version()) == "TLSv1.2" || std::string(tls.version()) == "TLSv1.3");
    EXPECT_EQ(tls.call(1, {{553, "teller"}, {554, "teller"}}).status, 0);
    Reply rules = tls.call(16477, {{697, ""}, {9020, ""}});
    EXPECT_EQ(rules.status, 0);
    EXPECT_FALSE(rules.rows.empty());
    EXPECT_EQ(rules.rowCount, rules.rows.size());

    // A plain-text client: its login never reaches the server's functions; it is told, in plain text, why.
    RawClient plain;
    ASSERT_TRUE(plain.connect(port));
    const Reply answer = plain.call(1, {{553, "teller"}, {554, "teller"}});
    EXPECT_EQ(answer.seq, 0u) << "the answer belongs to the connection, not to the login";
    EXPECT_EQ(answer.status, 1);
    EXPECT_NE(answer.text.find("TLS only"), std::string::npos) << answer.text;
    EXPECT_TRUE(plain.closedByPeer(3000));

    // A wrong key for the certificate stops the start with the reason.
    server::ServerOptions bad = o;
    bad.tlsKeyFile = dir.path + "/missing.pem";
    server::CounterServer refused(bad);
    EXPECT_LT(refused.start("127.0.0.1", 0, error), 0);
    EXPECT_NE(error.find("TLS key"), std::string::npos) << error;
}

} // namespace
} // namespace orvo::test
