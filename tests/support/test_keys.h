// Two fixed Ed25519 key pairs for tests: the administrator's ("A") and a stranger's or the next
// one after a rotation ("B"). The end-to-end launcher is built trusting A's public key.
#pragma once

#include <string>

#include "core/support/signature.h"

namespace qiv_start::test {

inline const std::string kTestPublicKeyA = "hEsiq/U+H+JlbBD3VIavxWjL0k8d/zhqsfuu+fQrxTo=";
inline const std::string kTestPublicKeyB = "+RjTBrZmz2E/jUJK6eO6fb9OYkt7qThX3D+eZ+PVx9U=";

inline core::TSigningKey test_key_a() {
    return core::TSigningKey::from_seed(
        *core::decode_base64("NNTzZEt6ESA9sHBeUwR+NMKHPc5UmTWRic2URIlHtyM="));
}

inline core::TSigningKey test_key_b() {
    return core::TSigningKey::from_seed(
        *core::decode_base64("K95Iw5NuIW35lIogedrGTrVHjcT38CV0BLRxfKpsQ1k="));
}

}  // namespace qiv_start::test
