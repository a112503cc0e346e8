#include "support/shell.h"

namespace qiv_start::test {

// Appended piece by piece: a prepended quote trips a false overlap warning of some compilers.
std::string quoted(const std::filesystem::path& path) {
    std::string text(1, '\'');
    text += path.string();
    text += '\'';
    return text;
}

std::string script(const std::string& name) {
    return quoted(std::filesystem::path(QIV_SOURCE_DIR) / name);
}

}  // namespace qiv_start::test
