// How the configuration's texts become colours and sizes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/config.h"

namespace qiv_start::core {

// An integer text: leading blanks, an optional sign, then decimal digits in the signed 32-bit
// range or hexadecimal digits after "$", "x", "X", "0x" or "0X" taken as a 32-bit pattern, and
// nothing after the digits. Nothing for any other text, the empty one included.
std::optional<std::int32_t> integer_from_text(std::string_view text);

// One of the colour identifiers (clRed, clBtnFace, ...; ASCII case ignored) or an integer text.
// Raises TError quoting the text for anything else.
TColor color_from_text(const std::string& text);

// The store's folder as a request path: one or more segments of letters, digits, '.', '-' and '_'
// separated by '/', none of them "." or "..", with the final '/' added when missing. Raises
// TError quoting the text for anything else: an absolute path or address, a backslash, an escape.
std::string store_folder_from_text(const std::string& text);

}  // namespace qiv_start::core
