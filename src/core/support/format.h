// The system's format strings: "%0:s" (argument 0 as text), "%1:d" (argument 1 as a decimal
// integer), "%s"/"%d" (the next argument), "%%" (a percent sign).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace qiv_start::core {

class TFormatArg {
  public:
    TFormatArg(std::string_view text) : value_(std::string(text)) {}
    TFormatArg(const std::string& text) : value_(text) {}
    TFormatArg(const char* text) : value_(std::string(text)) {}
    TFormatArg(std::int64_t number) : value_(number) {}
    TFormatArg(int number) : value_(static_cast<std::int64_t>(number)) {}

    std::string as_text() const;     // raises TError for a number
    std::int64_t as_number() const;  // raises TError for a text

  private:
    std::variant<std::string, std::int64_t> value_;
};

// Raises TError when the format names a missing argument, an argument of the other kind, or
// holds an unknown directive.
std::string format(std::string_view pattern, std::initializer_list<TFormatArg> args);

}  // namespace qiv_start::core
