// The digests of a file: the identity that the repository's configuration publishes.
#pragma once

#include <memory>
#include <string>
#include <string_view>

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

// Upper-case hexadecimal digits; sha256 is empty when it was not asked for.
struct TDigestPair {
    std::string md5;
    std::string sha256;
};

// MD5 and, when asked, SHA-256 of the same bytes, fed together so that the bytes are read or
// received once.
class TFileDigests {
  public:
    explicit TFileDigests(bool with_sha256);
    ~TFileDigests();
    TFileDigests(const TFileDigests&) = delete;
    TFileDigests& operator=(const TFileDigests&) = delete;

    void update(const char* data, std::size_t size);
    // Ends both digests.
    TDigestPair finish();

  private:
    TMd5 md5_;
    struct Sha256;
    std::unique_ptr<Sha256> sha256_;
};

// Whether downloaded bytes are the published ones. Letter case does not count here: the bytes are
// what the document names in either case. Whether a local file, or the launcher, is current is
// the stricter test below.
bool same_digest(std::string_view computed, std::string_view published);

// Whether a file whose computed digest is `computed` is current: equal character for character, so
// a digest published in lower case never matches (such a file is fetched on every run).
bool is_current_digest(std::string_view computed, std::string_view published);

// Whether the text has the form of a computed digest, hexadecimal with upper-case letters: the
// only form under which a file can ever be current.
bool is_upper_hex(std::string_view text);

// Whether the digests are the published ones: the MD5 and, when one is published, the SHA-256.
bool digests_match(const TDigestPair& actual, const TDigestPair& published);

// Both digests of the file in one read. Raises TIoError naming the file when it cannot be read.
TDigestPair get_file_digests(const std::string& file_name, bool with_sha256);

}  // namespace qiv_start::core
