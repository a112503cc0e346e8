// Arbitrary bytes as a detached signature file and as base64 text. The first byte splits the
// input into the signature text and the signed message; base64 that decodes must encode back to
// the same text, and nothing but the real signature (Ed25519 signs deterministically) may verify.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/support/signature.h"

namespace {

using namespace qiv_start;

const core::TSigningKey& key() {
    static const core::TSigningKey signing_key =
        core::TSigningKey::from_seed(std::string(32, '\x5A'));
    return signing_key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (const auto decoded = core::decode_base64(bytes)) {
        if (core::encode_base64(*decoded) != bytes)
            std::abort();
    }
    if (bytes.empty())
        return 0;
    const std::size_t split = std::min<std::size_t>(static_cast<unsigned char>(bytes[0]), size - 1);
    const std::string_view signature = bytes.substr(1, split);
    const std::string_view message = bytes.substr(1 + split);
    const core::TTrustedKeys keys = {key().public_key(), std::string(signature)};
    if (core::is_signed_by(message, signature, keys) &&
        signature.find(key().sign(message)) == std::string_view::npos) {
        std::abort();
    }
    return 0;
}
