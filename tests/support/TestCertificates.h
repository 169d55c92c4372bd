// Certificates made inside a test: a throw-away authority and a server certificate it signed, for the
// names given (subject alternative names such as "DNS:localhost" or "IP:127.0.0.1"). PEM text throughout.
#pragma once

#include <string>

namespace orvo::test {

struct TestCertificates {
    std::string authorityPem;   // the authority's certificate: what a client trusts
    std::string certificatePem; // the server's certificate
    std::string keyPem;         // the server's private key
};

// Throws std::runtime_error when OpenSSL cannot make them.
TestCertificates MakeTestCertificates(const std::string& serverNames);

// Writes `text` to a new file in the system's temporary folder and returns its path.
std::string WriteTempFile(const std::string& stem, const std::string& text);

} // namespace orvo::test
