// Detached Ed25519 signatures in base64: how a launcher built with trusted keys tells the
// administrator's documents from anyone else's.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct evp_pkey_st;

namespace qiv_start::core {

// Public keys, each the base64 of the raw 32 bytes. Empty: nothing is checked.
using TTrustedKeys = std::vector<std::string>;

// The keys this launcher was built with (the build setting QIV_TRUSTED_KEYS).
const TTrustedKeys& build_trusted_keys();

// Standard base64 with padding. Nothing for text with any other character, a wrong length,
// misplaced padding or unused bits that are not zero, so each byte string has one text.
std::optional<std::string> decode_base64(std::string_view text);
std::string encode_base64(std::string_view bytes);

// Whether signature_text, the base64 of an Ed25519 signature (surrounding white space allowed,
// as a line written by a tool), verifies the exact bytes of message with one of the keys. A key
// that does not decode to 32 bytes verifies nothing.
bool is_signed_by(std::string_view message, std::string_view signature_text,
                  const TTrustedKeys& keys);

// An Ed25519 private key, for the administrator's tools and tests.
class TSigningKey {
  public:
    // A new random key.
    static TSigningKey generate();
    // From a PEM text (PKCS #8, as openssl genpkey writes it); raises TError for anything else.
    static TSigningKey from_pem(const std::string& pem);
    // From the raw 32-byte seed; raises TError for another length.
    static TSigningKey from_seed(std::string_view seed);

    TSigningKey(TSigningKey&& other) noexcept;
    TSigningKey& operator=(TSigningKey&& other) noexcept;
    ~TSigningKey();

    std::string to_pem() const;
    // The base64 of the raw public key, as QIV_TRUSTED_KEYS takes it.
    std::string public_key() const;
    // The base64 of the signature of message.
    std::string sign(std::string_view message) const;

  private:
    explicit TSigningKey(evp_pkey_st* key) : key_(key) {}
    evp_pkey_st* key_;
};

}  // namespace qiv_start::core
