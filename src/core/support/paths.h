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
// letter, a UNC path, a ".." that climbs out or a folder or file name that is not plain
// (is_plain_name). Both '/' and '\' separate folders. An empty result is the folder itself.
std::optional<std::string> resolve_lexically(std::string_view path);

// resolve_lexically for a path in the working folder, the current directory, when no link on it
// leads out of that folder either.
std::optional<std::string> resolve_inside(std::string_view path);

// A plain file name, one that Windows stores as an ordinary file under that very name: not
// empty, not "." or "..", no separator, none of <>:"|?* and no control character, no dot or
// blank at the end, and not a device name (CON, CONIN$, CONOUT$, PRN, AUX, NUL, COM1..COM9,
// LPT1..LPT9 and COM¹..COM³, LPT¹..LPT³, in any letter case, also with an extension: "nul.txt").
// The same rule holds on every system, since repositories are written for Windows workstations.
bool is_plain_name(std::string_view name);

}  // namespace qiv_start::core
