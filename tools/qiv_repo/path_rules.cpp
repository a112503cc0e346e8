#include "qiv_repo/path_rules.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "core/support/paths.h"

namespace qiv_start::repo {
namespace {

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto separator = path.find_first_of("/\\", start);
        const auto end = separator == std::string::npos ? path.size() : separator;
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool has_parent_component(const std::string& path) {
    const auto parts = components(path);
    return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

// The first folder or file name that Windows would not store as a plain file.
std::optional<std::string> refused_component(const std::string& path) {
    for (const std::string& part : components(path)) {
        if (!part.empty() && part != "." && part != ".." && !core::is_plain_name(part))
            return part;
    }
    return std::nullopt;
}

std::optional<std::string> path_problem(const std::string& path) {
    if (!path.empty() && (path.front() == '/' || path.front() == '\\'))
        return "jest ścieżką bezwzględną";
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
        return "zawiera literę dysku";
    if (const auto part = refused_component(path)) {
        return "zawiera nazwę \"" + *part +
               "\", której Windows nie zapisze jako pliku (nazwa urządzenia, np. CON lub NUL.txt, "
               "znak <>:\"|?* lub sterujący, kropka lub spacja na końcu); stacje odmówią zapisu";
    }
    if (!core::resolve_lexically(path))
        return "zawiera \"..\" i wychodzi poza katalog roboczy; stacje odmówią zapisu";
    // The launcher accepts a ".." that stays inside, but it is almost always a slip.
    if (has_parent_component(path))
        return "zawiera \"..\"";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> target_path_problem(const std::string& target_path) {
    return path_problem(target_path);
}

std::optional<std::string> file_name_problem(const std::string& name) {
    if (name.empty())
        return "jest pusta";
    if (const auto problem = path_problem(name))
        return problem;
    // The launcher takes a file name as one name, never as a path.
    if (!core::is_plain_name(name))
        return "zawiera separator katalogów; stacje odmówią zapisu";
    return std::nullopt;
}

}  // namespace qiv_start::repo
