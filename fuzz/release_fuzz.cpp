// Arbitrary bytes as a release record. A record that parses, signed or not, has one text: signing
// what it states writes back the same lines up to its signatures. Nothing but a real signature
// verifies.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/config/release.h"

namespace {

using namespace qiv_start;

const core::TSigningKey& key() {
    static const core::TSigningKey signing_key =
        core::TSigningKey::from_seed(std::string(32, '\x5A'));
    return signing_key;
}

// All of a record that carries no signature.
std::string_view body_of(std::string_view record) {
    const auto signature = record.find("\nsignature ");
    return signature == std::string_view::npos ? record : record.substr(0, signature + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto release = core::parse_release(bytes);
    if (!release)
        return 0;
    const std::string written = core::sign_release(*release, {&key()});
    if (body_of(written) != body_of(bytes) || core::parse_release(written) != release)
        std::abort();
    if (core::verify_release(bytes, {key().public_key()}) &&
        bytes.find(written.substr(body_of(written).size())) == std::string_view::npos)
        std::abort();
    return 0;
}
