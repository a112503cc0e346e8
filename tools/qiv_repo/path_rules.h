// Where a file of the document may land on a workstation: inside the working folder.
#pragma once

#include <optional>
#include <string>

namespace qiv_start::repo {

// Why a target_path is refused (absolute, a drive letter, a name Windows does not store as a
// plain file, a ".." component), or nothing.
std::optional<std::string> target_path_problem(const std::string& target_path);

// Why a file name is refused (empty, absolute, a drive letter, a name Windows does not store as
// a plain file, a ".." component), or nothing.
std::optional<std::string> file_name_problem(const std::string& name);

}  // namespace qiv_start::repo
