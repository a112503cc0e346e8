#include "support/md5sum.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace qiv_start::test {

std::string md5sum_of(const std::filesystem::path& file) {
    const std::string command = "md5sum < '" + file.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        throw std::runtime_error("cannot run md5sum");
    char digest[33] = {};
    if (std::fread(digest, 1, 32, pipe.get()) != 32)
        throw std::runtime_error("md5sum failed");
    std::string text(digest, 32);
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace qiv_start::test
