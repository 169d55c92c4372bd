// The TLS side of a client connection (OpenSSL): the handshake that proves the server's name, then
// records read and written over a non-blocking socket. It never waits itself: every call says whether it
// is done or wants the socket readable or writable, and FixSocket waits under its deadline.
#pragma once

#include <cstddef>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

namespace orvo {

class TlsClient {
public:
    enum class Io { Ok, WantRead, WantWrite, Closed, Failed };

    TlsClient() = default;
    ~TlsClient();
    TlsClient(const TlsClient&) = delete;
    TlsClient& operator=(const TlsClient&) = delete;

    // Sets up TLS 1.2 or later over the connected `fd`: the certificate must chain to the authorities in
    // caFile (PEM; empty: the system's) and name `host` (a name, also sent as SNI, or a numeric address).
    bool Start(int fd, const std::string& host, const std::string& caFile, std::string& error);
    Io Handshake(std::string& error);
    Io Read(char* into, std::size_t size, std::size_t& received, std::string& error);
    Io Write(const char* bytes, std::size_t size, std::size_t& written, std::string& error);
    // Without waiting: true when the peer has ended the session or the connection.
    bool PeerClosed();
    void Close(); // sends the close notice when the socket takes it at once, then frees the session

private:
    Io Outcome(int result, const char* what, std::string& error);

    ssl_ctx_st* m_context = nullptr;
    ssl_st* m_ssl = nullptr;
    std::string m_host;
    int m_fd = -1; // the socket the session's BIO reads and writes
};

} // namespace orvo
