// The server side of TLS: a context with the certificate chain and key from PEM files, TLS 1.2 or
// later only.
#pragma once

#include <asio/ssl.hpp>

#include <memory>
#include <string>

namespace orvo::server {

// nullptr with the reason in error when a file cannot be read or the key does not match.
std::unique_ptr<asio::ssl::context> makeTlsContext(const std::string& certFile, const std::string& keyFile,
                                                   std::string& error);

} // namespace orvo::server
