#include "platform/proxy.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace qiv_start::platform {
namespace {

std::string lowered(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::optional<std::uint32_t> ipv4(const std::string& text) {
    std::uint32_t address = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.'))
            return std::nullopt;
        const std::size_t start = at;
        std::uint32_t value = 0;
        for (; at < text.size() && at - start < 3 && text[at] >= '0' && text[at] <= '9'; ++at)
            value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
        if (at == start || value > 255)
            return std::nullopt;
        address = address << 8 | value;
    }
    return at == text.size() ? std::optional(address) : std::nullopt;
}

bool entry_matches(const std::string& host, std::string entry) {
    if (entry.starts_with('.'))
        entry.erase(0, 1);
    while (entry.ends_with('.'))
        entry.pop_back();
    if (entry.empty())
        return false;
    const auto slash = entry.find('/');
    if (slash != std::string::npos) {
        const auto address = ipv4(host);
        const auto network = ipv4(entry.substr(0, slash));
        const std::string bits_text = entry.substr(slash + 1);
        if (!address || !network || bits_text.empty() || bits_text.size() > 2 ||
            bits_text.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        const int bits = std::stoi(bits_text);
        if (bits > 32)
            return false;
        const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
        return (*address & mask) == (*network & mask);
    }
    return host == entry ||
           (host.size() > entry.size() && host.ends_with("." + entry) && !ipv4(host).has_value());
}

std::vector<std::string> split(const std::string& list, const std::string& separators) {
    std::vector<std::string> entries;
    std::string entry;
    for (const char c : list + separators.front()) {
        if (separators.find(c) != std::string::npos) {
            if (!entry.empty())
                entries.push_back(entry);
            entry.clear();
        } else {
            entry += c;
        }
    }
    return entries;
}

// "*" matches any run of characters, everything else itself.
bool wildcard_match(const std::string& pattern, const std::string& text) {
    std::size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// Windows answers a proxy that asks who is there with the logged-on user's credentials.
#ifdef _WIN32
constexpr bool kSystemCredentials = true;
#else
constexpr bool kSystemCredentials = false;
#endif

}  // namespace

TProxyRoute proxy_route(const std::string& url, const std::string& scheme,
                        const std::string& host) {
    const char* override = std::getenv("QIV_START_PROXY");
    if (override == nullptr || *override == '\0')
        return setting_proxy_route(url, scheme, host);
    TProxyRoute route;
    route.source = TProxySource::kOverride;
    if (lowered(override) != "direct") {
        route.proxy = override;
        route.system_credentials =
            kSystemCredentials && offers_system_credentials(route.source, route.proxy);
    }
    return route;
}

bool offers_system_credentials(TProxySource source, const std::string& proxy) {
    if (proxy.empty() || proxy.find('@') != std::string::npos)
        return false;
    return source == TProxySource::kSystemSetting || source == TProxySource::kAutoConfig ||
           source == TProxySource::kOverride;
}

bool is_bypassed_by_windows_list(const std::string& host_name, const std::string& bypass) {
    const std::string host = lowered(host_name);
    for (std::string entry : split(lowered(bypass), "; ,\t")) {
        if (entry == "<local>") {
            if (host.find('.') == std::string::npos && host.find(':') == std::string::npos)
                return true;
            continue;
        }
        if (const auto scheme = entry.find("://"); scheme != std::string::npos)
            entry.erase(0, scheme + 3);
        if (const auto port = entry.rfind(':');
            port != std::string::npos && entry.find(']') == std::string::npos)
            entry.erase(port);
        if (!entry.empty() && wildcard_match(entry, host))
            return true;
    }
    return false;
}

std::string proxy_for_scheme(const std::string& list, const std::string& scheme) {
    std::string general;
    for (const std::string& entry : split(list, "; \t")) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos) {
            if (general.empty())
                general = entry;
        } else if (lowered(entry.substr(0, equals)) == scheme && equals + 1 < entry.size()) {
            general = entry.substr(equals + 1);
            break;
        }
    }
    if (general.empty() || general.find("://") != std::string::npos)
        return general;
    return "http://" + general;
}

bool is_bypassed_by_no_proxy(const std::string& host_name, const std::string& no_proxy) {
    std::string host = lowered(host_name);
    if (host.starts_with('[') && host.ends_with(']'))
        host = host.substr(1, host.size() - 2);
    while (host.ends_with('.'))
        host.pop_back();
    std::vector<std::string> entries = split(lowered(no_proxy), ", \t");
    if (entries.size() == 1 && entries.front() == "*")
        return true;
    for (std::string& candidate : entries) {
        if (candidate.starts_with('[') && candidate.ends_with(']'))
            candidate = candidate.substr(1, candidate.size() - 2);
        if (entry_matches(host, candidate))
            return true;
    }
    return false;
}

}  // namespace qiv_start::platform
