// A certificate authority of its own and a server certificate for 127.0.0.1, localhost and
// repo.invalid (a name that only a test proxy resolves).
#pragma once

#include <filesystem>
#include <string>

namespace qiv_start::test {

struct TTestCertificates {
    std::string ca_file;    // the authority's certificate (PEM), to be trusted by clients
    std::string cert_file;  // the server's certificate (PEM), signed by the authority
    std::string key_file;   // the server's private key (PEM)
};

// Creates a new authority and server certificate in the directory; every call makes new keys,
// so one call's authority does not vouch for another call's server.
TTestCertificates create_test_certificates(const std::filesystem::path& directory);

}  // namespace qiv_start::test
