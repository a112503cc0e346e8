// Shell commands that the tests build: quoting, and the scripts of the source tree.
#pragma once

#include <filesystem>
#include <string>

namespace qiv_start::test {

std::string quoted(const std::filesystem::path& path);
// A script of the source tree, quoted for the shell.
std::string script(const std::string& name);

}  // namespace qiv_start::test
