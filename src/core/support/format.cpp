#include "core/support/format.h"

#include <vector>

#include "core/support/error.h"

namespace qiv_start::core {
namespace {

[[noreturn]] void invalid(std::string_view pattern) {
    throw TError("Format \"" + std::string(pattern) + "\" invalid or incompatible with argument");
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::string TFormatArg::as_text() const {
    if (const auto* text = std::get_if<std::string>(&value_))
        return *text;
    throw TError("Format argument is not a text");
}

std::int64_t TFormatArg::as_number() const {
    if (const auto* number = std::get_if<std::int64_t>(&value_))
        return *number;
    throw TError("Format argument is not a number");
}

std::string format(std::string_view pattern, std::initializer_list<TFormatArg> args) {
    const std::vector<TFormatArg> arguments(args);
    std::string result;
    result.reserve(pattern.size() + 32);
    std::size_t next = 0;  // an indexed directive moves on the argument that "%s" takes next
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            result += pattern[i];
            continue;
        }
        if (++i >= pattern.size())
            invalid(pattern);
        if (pattern[i] == '%') {
            result += '%';
            continue;
        }
        std::size_t index = next;
        if (is_digit(pattern[i])) {
            std::size_t j = i;
            std::size_t value = 0;
            while (j < pattern.size() && is_digit(pattern[j]) && value < arguments.size() + 1) {
                value = value * 10 + static_cast<std::size_t>(pattern[j] - '0');
                ++j;
            }
            if (j >= pattern.size() || pattern[j] != ':')
                invalid(pattern);
            index = value;
            i = j + 1;
            if (i >= pattern.size())
                invalid(pattern);
        }
        if (index >= arguments.size())
            invalid(pattern);
        switch (pattern[i]) {
            case 's':
                result += arguments[index].as_text();
                break;
            case 'd':
                result += std::to_string(arguments[index].as_number());
                break;
            default:
                invalid(pattern);
        }
        next = index + 1;
    }
    return result;
}

}  // namespace qiv_start::core
