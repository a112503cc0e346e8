// nginx over TLS with HTTP/2 in front of a test server: a client meets HTTP/2 as from a real
// server, while the test server's scripted answers and faults reach it unchanged.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "support/test_certificates.h"

namespace qiv_start::test {

// Starts nginx with its files in run_dir, passing every request on to upstream (a base URL of
// plain HTTP); stops it by its pid when it goes. Raises std::runtime_error when it cannot start.
class TNginxFront {
  public:
    TNginxFront(const std::string& upstream, const TTestCertificates& certificates,
                std::filesystem::path run_dir);
    ~TNginxFront();
    TNginxFront(const TNginxFront&) = delete;
    TNginxFront& operator=(const TNginxFront&) = delete;

    // "https://127.0.0.1:PORT/".
    std::string base_url() const { return "https://127.0.0.1:" + port_ + "/"; }
    // The TCP connections whose requests have ended so far.
    std::size_t connections() const;

  private:
    std::filesystem::path run_dir_;
    std::string port_;
};

}  // namespace qiv_start::test
