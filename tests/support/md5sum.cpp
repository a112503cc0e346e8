#include "support/md5sum.h"

#include <cctype>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace qiv_start::test {
namespace {

std::string digest_by(const std::string& tool, const std::filesystem::path& file,
                      std::size_t digits) {
    const std::string command = tool + " < '" + file.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        throw std::runtime_error("cannot run " + tool);
    std::string text(digits, '\0');
    if (std::fread(text.data(), 1, digits, pipe.get()) != digits)
        throw std::runtime_error(tool + " failed");
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string md5sum_of(const std::filesystem::path& file) {
    return digest_by("md5sum", file, 32);
}

std::string sha256sum_of(const std::filesystem::path& file) {
    return digest_by("sha256sum", file, 64);
}

}  // namespace qiv_start::test
