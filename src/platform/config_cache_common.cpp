#include <charconv>

#include "platform/config_cache_backend.h"

namespace qiv_start::platform::backend {

std::string signed_unit(const TSignedDocument& document) {
    return std::to_string(document.release.size()) + "\n" + document.release + document.bytes;
}

std::optional<TSignedDocument> from_signed_unit(const std::string& unit) {
    const std::size_t line_end = unit.find('\n');
    if (line_end == std::string::npos || line_end == 0)
        return std::nullopt;
    std::size_t length = 0;
    const char* const digits_end = unit.data() + line_end;
    const auto [stop, failure] = std::from_chars(unit.data(), digits_end, length);
    if (failure != std::errc() || stop != digits_end || length > unit.size() - line_end - 1)
        return std::nullopt;
    return TSignedDocument{unit.substr(line_end + 1 + length), unit.substr(line_end + 1, length)};
}

}  // namespace qiv_start::platform::backend
