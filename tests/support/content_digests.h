// Digests of bytes held in memory, as the configuration publishes them.
#pragma once

#include <string>

namespace qiv_start::test {

// 32 upper-case hexadecimal digits.
std::string md5_of(const std::string& content);

// 64 upper-case hexadecimal digits.
std::string sha256_of(const std::string& content);

}  // namespace qiv_start::test
