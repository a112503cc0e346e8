#include "core/support/paths.h"

#include <vector>

#include "core/support/ascii.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// Windows opens the device, not a file, whatever extension follows and with blanks before it.
bool is_device_name(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (equals_ignoring_ascii_case(base, device))
            return true;
    }
    if (!starts_with_ignoring_ascii_case(base, "COM") &&
        !starts_with_ignoring_ascii_case(base, "LPT")) {
        return false;
    }
    const std::string_view number = base.substr(3);
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

// ':' also covers drive letters and alternate data streams.
bool is_refused_character(char c) {
    return static_cast<unsigned char>(c) < 0x20 ||
           std::string_view("<>:\"|?*/\\").find(c) != std::string_view::npos;
}

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t at = 0; at <= path.size(); ++at) {
        if (at == path.size() || is_separator(path[at])) {
            parts.push_back(path.substr(start, at - start));
            start = at + 1;
        }
    }
    return parts;
}

}  // namespace

std::string native_path(std::string_view path) {
    std::string result(path);
    const char separator = platform::path_separator();
    for (char& c : result) {
        if (c == '\\')
            c = separator;
    }
    return result;
}

std::string join_path(std::string_view directory, std::string_view name) {
    if (directory.empty())
        return native_path(name);
    std::string joined(directory);
    joined += '\\';
    joined += name;
    return native_path(joined);
}

std::optional<std::string> resolve_lexically(std::string_view path) {
    if (!path.empty() && is_separator(path.front()))
        return std::nullopt;
    std::vector<std::string_view> kept;
    for (const std::string_view part : components(path)) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (kept.empty())
                return std::nullopt;
            kept.pop_back();
            continue;
        }
        if (!is_plain_name(part))
            return std::nullopt;
        kept.push_back(part);
    }
    std::string resolved;
    for (const std::string_view part : kept) {
        if (!resolved.empty())
            resolved += platform::path_separator();
        resolved += part;
    }
    return resolved;
}

// A local user who may write the working folder could otherwise point a folder of it elsewhere
// and have the launcher write there.
std::optional<std::string> resolve_inside(std::string_view path) {
    std::optional<std::string> resolved = resolve_lexically(path);
    if (resolved && !platform::stays_inside(".", *resolved))
        return std::nullopt;
    return resolved;
}

// "." and ".." end with a dot.
bool is_plain_name(std::string_view name) {
    if (name.empty() || name.back() == '.' || name.back() == ' ')
        return false;
    for (const char c : name) {
        if (is_refused_character(c))
            return false;
    }
    return !is_device_name(name);
}

}  // namespace qiv_start::core
