#include "core/support/paths.h"

#include "platform/files.h"

namespace qiv_start::core {

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

}  // namespace qiv_start::core
