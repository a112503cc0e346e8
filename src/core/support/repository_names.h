// The names of the repository's own files and of the launcher, and the ceilings on the sizes of
// the two small documents: one place, so that the launcher, its cache and the administrator's tool
// always agree.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qiv_start::core {

// The configuration document, in the repository and as the working folder's local copy.
inline constexpr const char* kDocumentName = "qiv_start_2.xml";
// The repository's server list, and the workstation's own copy of it in the working folder.
inline constexpr const char* kServerListName = "servers.cfg";
inline constexpr const char* kLocalServerList = "config\\servers.cfg";
// The highest release serial that the working folder's files were taken under, one decimal
// number and a line feed.
inline constexpr const char* kLocalReleaseSerial = "config\\release_serial";

// The launcher's file name without the platform's suffix, and what the name of its update ends
// with.
inline constexpr const char* kLauncherName = "qiv_start_2";
inline constexpr const char* kUpgradeEnding = "_upgr";

// Whatever a server announces, a server list or a document larger than these is no real one.
inline constexpr std::size_t kMaxServerListSize = std::size_t{4} * 1024 * 1024;
inline constexpr std::size_t kMaxDocumentSize = std::size_t{16} * 1024 * 1024;

// The store of objects: every file that a release names, under its SHA-256 in lower-case
// hexadecimal with its first two digits as a folder, written once and never changed, so that any
// cache may keep it for ever.
inline constexpr std::string_view kObjectsFolder = "objects/";
// "objects/ab/abcdef..." for the digest "abcdef...".
inline std::string object_path(std::string_view sha256) {
    std::string path(kObjectsFolder);
    path.append(sha256.substr(0, 2)).append("/").append(sha256);
    return path;
}
// The same in the store under folder, which ends with '/'.
inline std::string object_path(std::string_view folder, std::string_view sha256) {
    return std::string(folder) + object_path(sha256).substr(kObjectsFolder.size());
}

}  // namespace qiv_start::core
