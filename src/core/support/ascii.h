// Letter case of ASCII letters only: the comparisons of codes, schemes and digests that ignore
// case must not depend on the workstation's locale.
#pragma once

#include <string_view>

namespace qiv_start::core {

constexpr char ascii_upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The value of a hexadecimal digit in either case; -1 for any other character.
constexpr int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_upper(a[i]) != ascii_upper(b[i]))
            return false;
    }
    return true;
}

constexpr bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equals_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

}  // namespace qiv_start::core
