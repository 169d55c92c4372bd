#include "server/net/TlsContext.h"
#include "server/net/TlsFiles.h"

#include <openssl/ssl.h>

namespace orvo::server {

std::unique_ptr<asio::ssl::context> makeTlsContext(const std::string& certFile, const std::string& keyFile,
                                                   std::string& error) {
    auto context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
    context->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                         asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                         asio::ssl::context::no_tlsv1_1 | asio::ssl::context::single_dh_use);
    SSL_CTX* native = context->native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    // Idle connections give their record buffers back; a thousand sessions stay small.
    SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);
    asio::error_code ec;
    context->use_certificate_chain_file(certFile, ec);
    if (ec) {
        error = "cannot read the TLS certificate " + certFile + ": " + ec.message();
        return nullptr;
    }
    context->use_private_key_file(keyFile, asio::ssl::context::pem, ec);
    if (ec) {
        error = "cannot read the TLS key " + keyFile + ": " + ec.message();
        return nullptr;
    }
    if (SSL_CTX_check_private_key(native) != 1) {
        error = "the TLS key " + keyFile + " does not match the certificate " + certFile;
        return nullptr;
    }
    return context;
}

} // namespace orvo::server

namespace orvo::server {

bool checkTlsFiles(const std::string& certFile, const std::string& keyFile, std::string& error) {
    return makeTlsContext(certFile, keyFile, error) != nullptr;
}

} // namespace orvo::server
