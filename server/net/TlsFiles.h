// Whether a certificate and key would make a TLS context, without Asio: for checking a configuration
// before serving or reloading.
#pragma once

#include <string>

namespace orvo::server {

// False with the reason when a file cannot be read or the key does not match the certificate.
bool checkTlsFiles(const std::string& certFile, const std::string& keyFile, std::string& error);

} // namespace orvo::server
