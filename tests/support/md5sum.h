// The reference digest of a file, from the system's md5sum tool.
#pragma once

#include <filesystem>
#include <string>

namespace qiv_start::test {

// 32 upper-case hexadecimal digits; raises std::runtime_error when md5sum fails.
std::string md5sum_of(const std::filesystem::path& file);

}  // namespace qiv_start::test
