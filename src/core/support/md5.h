// The MD5 digest of a file: the identity that the repository's configuration publishes.
#pragma once

#include <memory>
#include <string>

namespace qiv_start::core {

// 32 upper-case hexadecimal digits. Raises TIoError naming the file when it cannot be read.
std::string get_file_md5(const std::string& file_name);

// An MD5 digest fed piece by piece, for bytes that arrive from the network.
class TMd5 {
  public:
    TMd5();
    ~TMd5();
    TMd5(const TMd5&) = delete;
    TMd5& operator=(const TMd5&) = delete;

    void update(const char* data, std::size_t size);
    // 32 upper-case hexadecimal digits; the digest cannot be updated afterwards.
    std::string finish();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qiv_start::core
