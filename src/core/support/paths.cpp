#include "core/support/paths.h"

#include <vector>

#include "platform/files.h"

namespace qiv_start::core {
namespace {

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// "C:" and the like: on Windows a drive, wherever it stands in a relative path.
bool has_drive_letter(std::string_view path) {
    return path.size() >= 2 && path[1] == ':';
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
    if ((!path.empty() && is_separator(path.front())) || has_drive_letter(path))
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
        if (part.find(':') != std::string_view::npos)
            return std::nullopt;  // a drive or an alternate data stream further in
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

bool is_plain_name(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (const char c : name) {
        if (is_separator(c) || c == ':')
            return false;
    }
    return true;
}

}  // namespace qiv_start::core
