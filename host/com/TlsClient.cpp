#include "host/com/TlsClient.h"

#include "platform/SystemText.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvo {

namespace {

bool IsNumericAddress(const std::string& host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a connection the peer closed. The
// channel raises no signals, so its TLS records go through send() with MSG_NOSIGNAL instead.
int fdOf(BIO* bio) {
    return *static_cast<const int*>(BIO_get_data(bio)); // the TlsClient's, which outlives its session
}

int SocketWrite(BIO* bio, const char* bytes, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = send(fdOf(bio), bytes, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

int SocketRead(BIO* bio, char* into, int size) {
    BIO_clear_retry_flags(bio);
    const ssize_t n = recv(fdOf(bio), into, static_cast<std::size_t>(size), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_read(bio);
    return static_cast<int>(n);
}

long SocketControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO* NewSocketBio(int* fd) {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "counter channel socket");
        if (m) {
            BIO_meth_set_write(m, SocketWrite);
            BIO_meth_set_read(m, SocketRead);
            BIO_meth_set_ctrl(m, SocketControl);
            BIO_meth_set_create(m, SocketCreate);
        }
        return m;
    }();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (bio)
        BIO_set_data(bio, fd);
    return bio;
}

// The reason OpenSSL queued last, in words, or `fallback`.
std::string QueuedReason(const char* fallback) {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    return reason ? reason : fallback;
}

} // namespace

TlsClient::~TlsClient() {
    Close();
}

bool TlsClient::Start(int fd, const std::string& host, const std::string& caFile, std::string& error) {
    Close();
    ERR_clear_error();
    m_host = host;
    m_context = SSL_CTX_new(TLS_client_method());
    if (!m_context || SSL_CTX_set_min_proto_version(m_context, TLS1_2_VERSION) != 1) {
        error = "TLS is not available: " + QueuedReason("no context");
        Close();
        return false;
    }
    if (!caFile.empty() && access(caFile.c_str(), R_OK) != 0) {
        error = "cannot read the CA certificates in " + caFile + ": " + orvo::SystemErrorText(errno);
        Close();
        return false;
    }
    SSL_CTX_set_verify(m_context, SSL_VERIFY_PEER, nullptr);
    const bool authorities = caFile.empty()
                                 ? SSL_CTX_set_default_verify_paths(m_context) == 1
                                 : SSL_CTX_load_verify_locations(m_context, caFile.c_str(), nullptr) == 1;
    if (!authorities) {
        error = caFile.empty()
                    ? "cannot load the system's trusted certificates: " + QueuedReason("unknown")
                    : "cannot read the CA certificates in " + caFile + ": " + QueuedReason("unknown");
        Close();
        return false;
    }
    m_ssl = SSL_new(m_context);
    m_fd = fd;
    BIO* bio = m_ssl ? NewSocketBio(&m_fd) : nullptr;
    if (!bio) {
        error = "TLS is not available: " + QueuedReason("no session");
        Close();
        return false;
    }
    SSL_set_bio(m_ssl, bio, bio); // the session owns it now
    // Replies are framed with their lengths and an end of reply: a connection cut without the close
    // notice is seen as cut there, so it is reported as a closed connection like a plain one.
    SSL_set_options(m_ssl, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_set_mode(m_ssl, SSL_MODE_ENABLE_PARTIAL_WRITE);
    X509_VERIFY_PARAM* verify = SSL_get0_param(m_ssl);
    bool named = false;
    if (IsNumericAddress(host)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(verify, host.c_str()) == 1;
    } else {
        X509_VERIFY_PARAM_set_hostflags(verify, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        named = SSL_set_tlsext_host_name(m_ssl, host.c_str()) == 1 && SSL_set1_host(m_ssl, host.c_str()) == 1;
    }
    if (!named) {
        error = "cannot check the certificate against host " + host;
        Close();
        return false;
    }
    return true;
}

TlsClient::Io TlsClient::Outcome(int result, const char* what, std::string& error) {
    const int saved = errno;
    switch (SSL_get_error(m_ssl, result)) {
    case SSL_ERROR_WANT_READ:
        return Io::WantRead;
    case SSL_ERROR_WANT_WRITE:
        return Io::WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return Io::Closed;
    case SSL_ERROR_SYSCALL:
        if (saved == 0 || saved == ECONNRESET || saved == EPIPE)
            return Io::Closed;
        error = orvo::SystemErrorText(saved);
        return Io::Failed;
    default:
        error = std::string(what) + ": " + QueuedReason("failed");
        return Io::Failed;
    }
}

TlsClient::Io TlsClient::Handshake(std::string& error) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_connect(m_ssl);
    if (result == 1)
        return Io::Ok;
    const Io io = Outcome(result, "TLS handshake with the counter server failed", error);
    if (io == Io::WantRead || io == Io::WantWrite)
        return io;
    const long verified = SSL_get_verify_result(m_ssl);
    if (verified == X509_V_ERR_HOSTNAME_MISMATCH || verified == X509_V_ERR_IP_ADDRESS_MISMATCH)
        error = "the certificate of the counter server does not match host " + m_host;
    else if (verified != X509_V_OK)
        error = std::string("the certificate of the counter server cannot be trusted: ") +
                X509_verify_cert_error_string(verified);
    else if (io == Io::Closed)
        error = "the counter server closed the connection during the TLS handshake (does it speak TLS?)";
    return Io::Failed;
}

TlsClient::Io TlsClient::Read(char* into, std::size_t size, std::size_t& received, std::string& error) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_read_ex(m_ssl, into, size, &received);
    return result == 1 ? Io::Ok : Outcome(result, "reading over TLS failed", error);
}

TlsClient::Io TlsClient::Write(const char* bytes, std::size_t size, std::size_t& written,
                               std::string& error) {
    ERR_clear_error();
    errno = 0;
    const int result = SSL_write_ex(m_ssl, bytes, size, &written);
    return result == 1 ? Io::Ok : Outcome(result, "writing over TLS failed", error);
}

bool TlsClient::PeerClosed() {
    char byte = 0;
    std::size_t peeked = 0;
    ERR_clear_error();
    errno = 0;
    const int result = SSL_peek_ex(m_ssl, &byte, 1, &peeked);
    if (result == 1)
        return false;
    std::string ignored;
    const Io io = Outcome(result, "", ignored);
    return io == Io::Closed || io == Io::Failed;
}

void TlsClient::Close() {
    if (m_ssl) {
        ERR_clear_error();
        if (SSL_is_init_finished(m_ssl))
            SSL_shutdown(m_ssl); // non-blocking: sent if the socket takes it, never awaited
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    if (m_context) {
        SSL_CTX_free(m_context);
        m_context = nullptr;
    }
    ERR_clear_error();
}

} // namespace orvo
