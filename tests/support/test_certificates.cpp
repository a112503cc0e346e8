#include "support/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace qiv_start::test {
namespace {

using TKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using TCertificate = std::unique_ptr<X509, decltype(&X509_free)>;
using TExtensions = std::vector<std::pair<int, const char*>>;

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test certificate: ") + what);
}

TKey make_key() {
    TKey key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    check(key != nullptr, "key generation");
    return key;
}

void add_extensions(X509* certificate, X509* issuer, const TExtensions& extensions) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        check(extension != nullptr, value);
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
}

// issuer == nullptr makes a self-signed certificate.
TCertificate make_certificate(const char* common_name, long serial, EVP_PKEY* key, X509* issuer,
                              EVP_PKEY* issuer_key, const TExtensions& extensions) {
    TCertificate certificate(X509_new(), &X509_free);
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(common_name), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    add_extensions(cert, issuer ? issuer : cert, extensions);
    check(X509_sign(cert, issuer_key, EVP_sha256()) > 0, "signing");
    return certificate;
}

template <class Write>
void write_pem(const std::filesystem::path& file, Write write) {
    std::unique_ptr<FILE, decltype(&std::fclose)> out(std::fopen(file.string().c_str(), "wb"),
                                                      &std::fclose);
    check(out != nullptr && write(out.get()) == 1, "writing a PEM file");
}

}  // namespace

TTestCertificates create_test_certificates(const std::filesystem::path& directory) {
    const TKey ca_key = make_key();
    const TCertificate ca =
        make_certificate("qiv test authority", 1, ca_key.get(), nullptr, ca_key.get(),
                         {{NID_basic_constraints, "critical,CA:TRUE"},
                          {NID_key_usage, "critical,keyCertSign,cRLSign"},
                          {NID_subject_key_identifier, "hash"}});
    const TKey server_key = make_key();
    const TCertificate server =
        make_certificate("127.0.0.1", 2, server_key.get(), ca.get(), ca_key.get(),
                         {{NID_basic_constraints, "CA:FALSE"},
                          {NID_key_usage, "critical,digitalSignature"},
                          {NID_ext_key_usage, "serverAuth"},
                          {NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost,DNS:repo.invalid"},
                          {NID_subject_key_identifier, "hash"},
                          {NID_authority_key_identifier, "keyid:always"}});

    TTestCertificates files{(directory / "ca.pem").string(), (directory / "server.pem").string(),
                            (directory / "server.key").string()};
    write_pem(files.ca_file, [&](FILE* out) { return PEM_write_X509(out, ca.get()); });
    write_pem(files.cert_file, [&](FILE* out) { return PEM_write_X509(out, server.get()); });
    write_pem(files.key_file, [&](FILE* out) {
        return PEM_write_PrivateKey(out, server_key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return files;
}

}  // namespace qiv_start::test
