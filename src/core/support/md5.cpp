#include "core/support/md5.h"

#include <openssl/evp.h>

#include <vector>

#include "core/support/ascii.h"
#include "core/support/error.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

constexpr std::size_t kBlockSize = 256 * 1024;

// An OpenSSL digest context for one algorithm.
class TEvpDigest {
  public:
    TEvpDigest(const EVP_MD* algorithm, const char* name) : context_(EVP_MD_CTX_new()) {
        if (context_ == nullptr || EVP_DigestInit_ex(context_, algorithm, nullptr) != 1) {
            EVP_MD_CTX_free(context_);
            throw TError(std::string(name) + " is not available");
        }
    }
    ~TEvpDigest() { EVP_MD_CTX_free(context_); }
    TEvpDigest(const TEvpDigest&) = delete;
    TEvpDigest& operator=(const TEvpDigest&) = delete;

    void update(const char* data, std::size_t size) { EVP_DigestUpdate(context_, data, size); }

    std::string finish() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_, digest, &length);
        static const char* const kDigits = "0123456789ABCDEF";
        std::string text;
        text.reserve(length * 2);
        for (unsigned int i = 0; i < length; ++i) {
            text += kDigits[digest[i] >> 4];
            text += kDigits[digest[i] & 0x0F];
        }
        return text;
    }

  private:
    EVP_MD_CTX* context_;
};

// Feeds every block of the file to update.
template <class Update>
void read_blocks(const std::string& file_name, Update update) {
    platform::TFileReader reader(file_name);
    std::vector<char> block(kBlockSize);
    while (const std::size_t n = reader.read(block.data(), block.size()))
        update(block.data(), n);
}

}  // namespace

struct TMd5::Impl : TEvpDigest {
    Impl() : TEvpDigest(EVP_md5(), "MD5") {}
};

TMd5::TMd5() : impl_(std::make_unique<Impl>()) {}

TMd5::~TMd5() = default;

void TMd5::update(const char* data, std::size_t size) {
    impl_->update(data, size);
}

std::string TMd5::finish() {
    return impl_->finish();
}

std::string get_file_md5(const std::string& file_name) {
    TMd5 digest;
    read_blocks(file_name, [&](const char* data, std::size_t size) { digest.update(data, size); });
    return digest.finish();
}

struct TFileDigests::Sha256 : TEvpDigest {
    Sha256() : TEvpDigest(EVP_sha256(), "SHA-256") {}
};

TFileDigests::TFileDigests(bool with_sha256)
    : sha256_(with_sha256 ? std::make_unique<Sha256>() : nullptr) {}

TFileDigests::~TFileDigests() = default;

void TFileDigests::update(const char* data, std::size_t size) {
    md5_.update(data, size);
    if (sha256_)
        sha256_->update(data, size);
}

TDigestPair TFileDigests::finish() {
    TDigestPair result{md5_.finish(), {}};
    if (sha256_)
        result.sha256 = sha256_->finish();
    return result;
}

bool same_digest(std::string_view computed, std::string_view published) {
    return equals_ignoring_ascii_case(computed, published);
}

bool is_current_digest(std::string_view computed, std::string_view published) {
    return computed == published;
}

bool is_upper_hex(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

bool digests_match(const TDigestPair& actual, const TDigestPair& published) {
    return same_digest(actual.md5, published.md5) &&
           (published.sha256.empty() || same_digest(actual.sha256, published.sha256));
}

TDigestPair get_file_digests(const std::string& file_name, bool with_sha256) {
    TFileDigests digests(with_sha256);
    read_blocks(file_name, [&](const char* data, std::size_t size) { digests.update(data, size); });
    return digests.finish();
}

}  // namespace qiv_start::core
