#include "qiv_repo/path_rules.h"

#include <cctype>

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
    if (has_parent_component(path))
        return "zawiera \"..\" i wychodzi poza katalog roboczy";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> target_path_problem(const std::string& target_path) {
    return path_problem(target_path);
}

std::optional<std::string> file_name_problem(const std::string& name) {
    if (name.empty())
        return "jest pusta";
    return path_problem(name);
}

}  // namespace qiv_start::repo
