#include "core/support/md5.h"

#include <openssl/evp.h>

#include <vector>

#include "core/support/error.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

constexpr std::size_t kBlockSize = 256 * 1024;

}  // namespace

struct TMd5::Impl {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
};

TMd5::TMd5() : impl_(std::make_unique<Impl>()) {
    if (impl_->context == nullptr || EVP_DigestInit_ex(impl_->context, EVP_md5(), nullptr) != 1) {
        EVP_MD_CTX_free(impl_->context);
        throw TError("MD5 is not available");
    }
}

TMd5::~TMd5() {
    EVP_MD_CTX_free(impl_->context);
}

void TMd5::update(const char* data, std::size_t size) {
    EVP_DigestUpdate(impl_->context, data, size);
}

std::string TMd5::finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(impl_->context, digest, &length);
    static const char* const kDigits = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0F];
    }
    return text;
}

std::string get_file_md5(const std::string& file_name) {
    platform::TFileReader reader(file_name);
    TMd5 digest;
    std::vector<char> block(kBlockSize);
    while (const std::size_t n = reader.read(block.data(), block.size()))
        digest.update(block.data(), n);
    return digest.finish();
}

}  // namespace qiv_start::core
