#include "platform/user_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/error.h"
#include "platform/files.h"

namespace qiv_start::platform {
namespace {

const char* const kFolderName = "/qiv_start_2";

std::string parent_of(const std::string& path) {
    const auto separator = path.find_last_of('/');
    return separator == std::string::npos || separator == 0 ? std::string()
                                                            : path.substr(0, separator);
}

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw TIoError("Cannot prepare the folder \"" + path + "\": " + reason);
}

}  // namespace

bool can_write_folder(const std::string& folder) {
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::string user_working_folder() {
    const char* const data_home = std::getenv("XDG_DATA_HOME");
    if (data_home != nullptr && data_home[0] == '/')
        return data_home + std::string(kFolderName);
    const char* const home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/')
        throw TIoError("Neither XDG_DATA_HOME nor HOME names the user's folder");
    return home + std::string("/.local/share") + kFolderName;
}

// Another user's folder, or a link planted in its place, would get the user's launcher and
// terminals.
void create_private_folder(const std::string& path) {
    const std::string parent = parent_of(path);
    if (!parent.empty() && !create_directories(parent))
        fail(parent, std::strerror(errno));
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        fail(path, std::strerror(errno));
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        fail(path, std::strerror(errno));
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        fail(path, "not a directory of the user's own");
    if ((info.st_mode & 077) != 0 && ::chmod(path.c_str(), info.st_mode & 0700) != 0)
        fail(path, std::strerror(errno));
}

}  // namespace qiv_start::platform
