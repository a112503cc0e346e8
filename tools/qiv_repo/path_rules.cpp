#include "qiv_repo/path_rules.h"

#include <cctype>

#include "core/support/paths.h"

namespace qiv_start::repo {
namespace {

bool has_parent_component(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto separator = path.find_first_of("/\\", start);
        const auto end = separator == std::string::npos ? path.size() : separator;
        if (path.compare(start, end - start, "..") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::optional<std::string> path_problem(const std::string& path) {
    if (!path.empty() && (path.front() == '/' || path.front() == '\\'))
        return "jest ścieżką bezwzględną";
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
        return "zawiera literę dysku";
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
