#include "core/support/signature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "core/support/error.h"

namespace qiv_start::core {
namespace {

constexpr std::size_t kKeySize = 32;
constexpr std::size_t kSignatureSize = 64;

struct TKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct TBioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;
using TContext = std::unique_ptr<EVP_MD_CTX, TContextFree>;
using TBio = std::unique_ptr<BIO, TBioFree>;

const unsigned char* bytes_of(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

bool is_base64_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

std::size_t padding_of(std::string_view text) {
    return text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
}

// Whole groups of four, padding only as the last one or two characters.
bool is_canonical_base64(std::string_view text) {
    if (text.size() % 4 != 0)
        return false;
    const std::size_t padding = padding_of(text);
    return std::all_of(text.begin(), text.end() - static_cast<std::ptrdiff_t>(padding),
                       is_base64_character);
}

std::string_view trim_white_space(std::string_view text) {
    const char* const white = " \t\r\n";
    const std::size_t first = text.find_first_not_of(white);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(white) - first + 1);
}

TKey public_key_from(const std::string& base64) {
    const auto raw = decode_base64(base64);
    if (!raw || raw->size() != kKeySize)
        return nullptr;
    return TKey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes_of(*raw), kKeySize));
}

bool verifies(EVP_PKEY* key, std::string_view message, const std::string& signature) {
    TContext context(EVP_MD_CTX_new());
    return context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key) == 1 &&
           EVP_DigestVerify(context.get(), bytes_of(signature), signature.size(), bytes_of(message),
                            message.size()) == 1;
}

}  // namespace

std::optional<std::string> decode_base64(std::string_view text) {
    if (!is_canonical_base64(text))
        return std::nullopt;
    std::string bytes(text.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                       bytes_of(text), static_cast<int>(text.size()));
    if (length < 0)
        return std::nullopt;
    // The decoder counts the padding as bytes of zeros.
    bytes.resize(static_cast<std::size_t>(length) - padding_of(text));
    // One text per byte string: unused bits before the padding must be zero.
    if (encode_base64(bytes) != text)
        return std::nullopt;
    return bytes;
}

std::string encode_base64(std::string_view bytes) {
    std::string text((bytes.size() + 2) / 3 * 4 + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                       bytes_of(bytes), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

bool is_signed_by(std::string_view message, std::string_view signature_text,
                  const TTrustedKeys& keys) {
    const auto signature = decode_base64(trim_white_space(signature_text));
    if (!signature || signature->size() != kSignatureSize)
        return false;
    return std::any_of(keys.begin(), keys.end(), [&](const std::string& base64) {
        const TKey key = public_key_from(base64);
        return key && verifies(key.get(), message, *signature);
    });
}

TSigningKey TSigningKey::generate() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (key == nullptr)
        throw TError("Cannot generate an Ed25519 key");
    return TSigningKey(key);
}

TSigningKey TSigningKey::from_pem(const std::string& pem) {
    TBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    TKey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        throw TError("Not an Ed25519 private key in PEM form");
    return TSigningKey(key.release());
}

TSigningKey TSigningKey::from_seed(std::string_view seed) {
    EVP_PKEY* key =
        seed.size() == kKeySize
            ? EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, bytes_of(seed), kKeySize)
            : nullptr;
    if (key == nullptr)
        throw TError("An Ed25519 private key is 32 bytes");
    return TSigningKey(key);
}

TSigningKey::TSigningKey(TSigningKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}

TSigningKey& TSigningKey::operator=(TSigningKey&& other) noexcept {
    std::swap(key_, other.key_);
    return *this;
}

TSigningKey::~TSigningKey() {
    EVP_PKEY_free(key_);
}

std::string TSigningKey::to_pem() const {
    TBio bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key_, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw TError("Cannot write the private key");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string TSigningKey::public_key() const {
    std::array<unsigned char, kKeySize> raw{};
    std::size_t size = raw.size();
    if (EVP_PKEY_get_raw_public_key(key_, raw.data(), &size) != 1 || size != kKeySize)
        throw TError("Cannot read the public key");
    return encode_base64(std::string_view(reinterpret_cast<const char*>(raw.data()), size));
}

std::string TSigningKey::sign(std::string_view message) const {
    TContext context(EVP_MD_CTX_new());
    std::string signature(kSignatureSize, '\0');
    std::size_t size = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       bytes_of(message), message.size()) != 1) {
        throw TError("Cannot sign");
    }
    return encode_base64(signature);
}

}  // namespace qiv_start::core
