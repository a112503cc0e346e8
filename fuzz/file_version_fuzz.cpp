// Feeds arbitrary bytes to the version-resource reader: it must answer with a version or one of
// its two errors, never crash or read outside the bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/support/error.h"
#include "core/terminal/file_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        qiv_start::core::get_version_from_bytes(bytes);
    } catch (const qiv_start::core::TError&) {
    }
    return 0;
}
