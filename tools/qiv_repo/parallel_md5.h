// MD5 (and SHA-256) digests of many files at once, one file per processor core.
#pragma once

#include <string>
#include <vector>

namespace qiv_start::repo {

struct TFileDigest {
    std::string digest;  // 32 upper-case hexadecimal digits; empty when the file could not be read
    std::string error;   // why it could not be read
    std::string sha256;  // 64 upper-case hexadecimal digits, when asked for
};

// The digest of each path, in the order given. threads: how many files are read at the same
// time; 0 means one per processor core. with_sha256: SHA-256 too, from the same read.
std::vector<TFileDigest> digest_files(const std::vector<std::string>& paths, unsigned threads = 0,
                                      bool with_sha256 = false);

}  // namespace qiv_start::repo
