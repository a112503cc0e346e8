// File names as Windows tells them apart. A repository is written for Windows, so two names that
// are one file there are one file everywhere the launcher compares them.
#pragma once

#include <string>
#include <string_view>

namespace qiv_start::core {

// The key under which Windows finds a name (one component of a path): every character upper-cased
// as NTFS compares names, by the simple upper-case mapping of the Basic Multilingual Plane, and
// the trailing dots and blanks dropped, as Win32 drops them. Bytes that are not UTF-8 become
// U+FFFD, as Windows converts them, a run of them one, however Windows counts them. Names that
// are one file on Windows have one key; a few that are not (ı and I, say) may share one too.
std::string windows_name_key(std::string_view name);

}  // namespace qiv_start::core
