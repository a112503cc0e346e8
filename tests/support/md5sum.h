// The reference digests of a file, from the system's md5sum and sha256sum tools.
#pragma once

#include <filesystem>
#include <string>

namespace qiv_start::test {

// 32 upper-case hexadecimal digits; raises std::runtime_error when md5sum fails.
std::string md5sum_of(const std::filesystem::path& file);

// 64 upper-case hexadecimal digits; raises std::runtime_error when sha256sum fails.
std::string sha256sum_of(const std::filesystem::path& file);

}  // namespace qiv_start::test
