// Paths as the configuration and the repository write them: relative, with backslashes.
#pragma once

#include <string>
#include <string_view>

namespace qiv_start::core {

// A backslash is a directory separator; the result uses the platform's separator.
std::string native_path(std::string_view path);

// directory + "\" + name, in native form. An empty directory is the current one: the name alone,
// never a path from the root.
std::string join_path(std::string_view directory, std::string_view name);

}  // namespace qiv_start::core
