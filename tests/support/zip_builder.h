// Zip archives written with libzip for the tests: names in either encoding, any method, Unix
// modes and symbolic links.
#pragma once

#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qiv_start::test {

struct TZipMember {
    std::string name;  // a name ending with '/' is a directory
    std::string content;
    // ZIP_FL_ENC_UTF_8 sets the language-encoding flag; ZIP_FL_ENC_CP437 stores the bytes of
    // name unmarked.
    zip_flags_t name_encoding = ZIP_FL_ENC_GUESS;
    std::int32_t method = ZIP_CM_DEFLATE;
    std::uint32_t unix_mode = 0100644;  // 0120777 makes a symbolic link to content
};

// Writes the archive, replacing any file at path. Throws std::runtime_error when libzip refuses.
void write_zip(const std::filesystem::path& path, const std::vector<TZipMember>& members);

}  // namespace qiv_start::test
