// The parts of the file layer that both backends build from their own primitives.
#include "platform/files.h"

#include <optional>
#include <vector>

#include "platform/files_backend.h"

namespace qiv_start::platform {

namespace {

bool is_separator(char c) {
    return c == '/' || c == path_separator();
}

bool is_root(const std::string& path) {
    return path.size() == 1 || (path.size() == 3 && path[1] == ':');
}

// Where path leads: the final path of its longest part that exists, then the names of the rest,
// which no link can redirect as none of it exists. A ".." after a missing folder leads nowhere,
// for the system as well.
std::optional<std::string> real_location(std::string path) {
    std::vector<std::string> missing;  // last name first
    while (!path.empty() && !backend::entry_exists(path)) {
        if (is_separator(path.back())) {
            if (is_root(path))
                return std::nullopt;
            path.pop_back();
            continue;
        }
        std::size_t cut = path.size();
        while (cut > 0 && !is_separator(path[cut - 1]))
            --cut;
        missing.push_back(path.substr(cut));
        path.resize(cut);
    }
    std::optional<std::string> location = backend::final_path(path.empty() ? "." : path);
    for (auto name = missing.rbegin(); location && name != missing.rend(); ++name) {
        if (*name == "..")
            return std::nullopt;
        if (*name == ".")
            continue;
        if (!is_separator(location->back()))
            *location += path_separator();
        *location += *name;
    }
    return location;
}

}  // namespace

bool stays_inside(const std::string& folder, const std::string& path) {
    const std::string base = folder.empty() ? "." : folder;
    const std::optional<std::string> inside = real_location(base);
    const std::optional<std::string> place =
        real_location(path.empty() ? base : base + path_separator() + path);
    if (!inside || !place || !place->starts_with(*inside))
        return false;
    return place->size() == inside->size() || is_separator(inside->back()) ||
           is_separator((*place)[inside->size()]);
}

std::string read_file(const std::string& path) {
    TFileReader reader(path);
    std::string content;
    char buffer[65536];
    while (const std::size_t n = reader.read(buffer, sizeof buffer))
        content.append(buffer, n);
    return content;
}

void write_file_atomic(const std::string& path, const std::string& content, TFileAccess access) {
    TAtomicFileWriter writer(path, access);
    writer.write(content.data(), content.size());
    writer.commit();
}

namespace {

// A decimal number at the start of text, without sign; the digits taken.
std::size_t digits_at(const std::string& text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    return end - at;
}

}  // namespace

// The backends name a temporary file: the target's name, ".part", then a number (POSIX) or two
// joined by an underscore (Windows: the process and a counter).
bool is_temporary_name_of(const std::string& name, const std::string& candidate) {
    const std::string prefix = name + ".part";
    if (!candidate.starts_with(prefix))
        return false;
    std::size_t at = prefix.size();
    const std::size_t first = digits_at(candidate, at);
    at += first;
    if (first != 0 && at < candidate.size() && candidate[at] == '_') {
        const std::size_t second = digits_at(candidate, at + 1);
        at += second == 0 ? 0 : second + 1;
    }
    return first != 0 && at == candidate.size();
}

// The number at the end holds no ".part", so the last one ends the target's name.
bool is_temporary_name(const std::string& candidate) {
    const auto part = candidate.rfind(".part");
    return part != std::string::npos && part != 0 &&
           is_temporary_name_of(candidate.substr(0, part), candidate);
}

}  // namespace qiv_start::platform
