// The version string of an executable file.
#pragma once

#include <string>

namespace qiv_start::core {

std::string get_file_version(const std::string& file_name);

}  // namespace qiv_start::core
