#include "tests/support/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace orvo::test {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("MakeTestCertificates: ") + what);
}

Key NewKey() {
    Key key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    Check(key != nullptr, "key");
    return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    Check(extension && X509_add_ext(certificate, extension, -1) == 1, "extension");
    X509_EXTENSION_free(extension);
}

Certificate NewCertificate(EVP_PKEY* key, const char* commonName, long serial) {
    Certificate certificate(X509_new(), X509_free);
    Check(certificate && X509_set_version(certificate.get(), 2) == 1, "certificate");
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24 * 3600);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                               -1, -1, 0);
    Check(X509_set_pubkey(certificate.get(), key) == 1, "public key");
    return certificate;
}

std::string Pem(X509* certificate) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    Check(bio && PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string Pem(EVP_PKEY* key) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    Check(bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "PEM");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

} // namespace

TestCertificates MakeTestCertificates(const std::string& serverNames) {
    static long serial = 1;
    const Key authorityKey = NewKey();
    const Certificate authority = NewCertificate(authorityKey.get(), "test authority", serial++);
    X509_set_issuer_name(authority.get(), X509_get_subject_name(authority.get()));
    AddExtension(authority.get(), authority.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(authority.get(), authority.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(authority.get(), authority.get(), NID_subject_key_identifier, "hash");
    Check(X509_sign(authority.get(), authorityKey.get(), EVP_sha256()) > 0, "signing the authority");

    const Key serverKey = NewKey();
    const Certificate server = NewCertificate(serverKey.get(), "counter server", serial++);
    X509_set_issuer_name(server.get(), X509_get_subject_name(authority.get()));
    AddExtension(server.get(), authority.get(), NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(server.get(), authority.get(), NID_ext_key_usage, "serverAuth");
    AddExtension(server.get(), authority.get(), NID_subject_alt_name, serverNames);
    AddExtension(server.get(), authority.get(), NID_authority_key_identifier, "keyid");
    Check(X509_sign(server.get(), authorityKey.get(), EVP_sha256()) > 0, "signing the server");

    return TestCertificates{Pem(authority.get()), Pem(server.get()), Pem(serverKey.get())};
}

std::string WriteTempFile(const std::string& stem, const std::string& text) {
    std::string path = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
    const int fd = mkstemp(path.data());
    Check(fd >= 0, "temporary file");
    close(fd);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

} // namespace orvo::test
