#include "core/terminal/terminal_access.h"

#include "core/support/error.h"
#include "core/support/format.h"

namespace qiv_start::core {
namespace {

const char* const kInvalidIp = "The string %s does not translate into a valid IP.";
const char* const kInvalidMask = "Invalid network mask.";

constexpr int kParts = 4;
constexpr unsigned kMaxPart = 255;

std::string trim_blanks(const std::string& text) {
    const auto is_blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_blank(text[begin]))
        ++begin;
    while (end > begin && is_blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// Plain decimal digits only: no sign, no octal or hexadecimal prefix.
bool parse_part(const std::string& raw, unsigned& value) {
    const std::string part = trim_blanks(raw);
    if (part.empty())
        return false;
    value = 0;
    for (const char c : part) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > kMaxPart)
            return false;
    }
    return true;
}

// The text split at its first three dots; the last part keeps any further dots, and missing dots
// leave the later parts empty.
std::vector<std::string> split_quad(const std::string& text) {
    std::vector<std::string> parts;
    std::string rest = text;
    for (int i = 0; i < kParts - 1; ++i) {
        const auto dot = rest.find('.');
        parts.push_back(rest.substr(0, dot));
        rest = dot == std::string::npos ? std::string() : rest.substr(dot + 1);
    }
    parts.push_back(rest);
    return parts;
}

bool is_run_of_leading_ones(std::uint32_t value) {
    const std::uint32_t inverted = ~value;
    return (inverted & (inverted + 1)) == 0;
}

}  // namespace

const char* const kNoIpFound = "No IP found";

std::uint32_t parse_dotted_quad(const std::string& text) {
    std::uint32_t result = 0;
    for (const auto& part : split_quad(text)) {
        unsigned value = 0;
        if (!parse_part(part, value))
            throw TError(format(kInvalidIp, {text}));
        result = (result << 8) | value;
    }
    return result;
}

void TNetworkCalculator::set_mask(const std::string& text) {
    const std::uint32_t value = parse_dotted_quad(text);
    if (value == mask_)
        return;
    if (!is_run_of_leading_ones(value))
        throw TError(kInvalidMask);
    mask_ = value;
}

void TNetworkCalculator::set_network_address(const std::string& text) {
    network_ = parse_dotted_quad(text);
}

bool TNetworkCalculator::contains(std::uint32_t address) const {
    return (address & mask_) == (network_ & mask_);
}

bool is_in_any_network(const std::vector<TRestrictedNetwork>& networks,
                       const TAddressList& local_addresses) {
    TNetworkCalculator calculator;
    bool inside = false;
    for (const auto& network : networks) {
        calculator.set_mask(network.network_mask);
        calculator.set_network_address(network.network_address);
        for (const auto& address : local_addresses()) {
            if (address == kNoIpFound)
                continue;
            if (calculator.contains(parse_dotted_quad(address)))
                inside = true;
        }
    }
    return inside;
}

}  // namespace qiv_start::core
