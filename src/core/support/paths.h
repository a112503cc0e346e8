// Paths as the configuration and the repository write them: relative, with backslashes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qiv_start::core {

// A backslash is a directory separator; the result uses the platform's separator.
std::string native_path(std::string_view path);

// directory + "\" + name, in native form. An empty directory is the current one: the name alone,
// never a path from the root.
std::string join_path(std::string_view directory, std::string_view name);

// The path resolved lexically ("." dropped, ".." taking back one folder), in native form, when it
// stays inside the folder it is relative to by its names; nothing for an absolute path, a drive
// letter, a UNC path or a ".." that climbs out. Both '/' and '\' separate folders. An empty
// result is the folder itself.
std::optional<std::string> resolve_lexically(std::string_view path);

// resolve_lexically for a path in the working folder, the current directory, when no link on it
// leads out of that folder either.
std::optional<std::string> resolve_inside(std::string_view path);

// A plain file name: not empty, no separator, no drive letter, not "." or "..".
bool is_plain_name(std::string_view name);

}  // namespace qiv_start::core
