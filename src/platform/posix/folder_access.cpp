// A folder is its user's own when it and every parent up to the root belong to the user or root
// and no one else may write them; a parent may let others write when its sticky bit keeps them
// from renaming what is not theirs (/tmp).
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/error.h"
#include "platform/folder_access.h"
#include "platform/posix/private_group.h"

namespace qiv_start::platform {

bool posix::is_private_group(gid_t group_id) {
    const passwd* user = ::getpwuid(::geteuid());
    if (user == nullptr || user->pw_gid != group_id)
        return false;
    const std::string user_name = user->pw_name;
    const group* group = ::getgrgid(group_id);
    if (group == nullptr || user_name != group->gr_name)
        return false;
    for (char** member = group->gr_mem; *member != nullptr; ++member) {
        if (user_name != *member)
            return false;
    }
    return true;
}

namespace {

std::optional<std::string> check(const std::string& path, TFolderRole role) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        throw TIoError("Cannot examine \"" + path + "\": " + std::strerror(errno));
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return "\"" + path + "\" belongs to the user with the number " +
               std::to_string(info.st_uid);
    const bool sticky = role == TFolderRole::kParent && (info.st_mode & S_ISVTX) != 0;
    if ((info.st_mode & S_IWOTH) != 0 && !sticky)
        return "\"" + path + "\" may be written by every user";
    if ((info.st_mode & S_IWGRP) != 0 && !sticky && !posix::is_private_group(info.st_gid))
        return "\"" + path + "\" may be written by the group with the number " +
               std::to_string(info.st_gid);
    return std::nullopt;
}

std::string real_path(const std::string& folder) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr),
                                                           &std::free);
    if (!real)
        throw TIoError("Cannot resolve \"" + folder + "\": " + std::strerror(errno));
    return real.get();
}

}  // namespace

std::optional<std::string> foreign_writer(const std::string& folder) {
    std::string path = real_path(folder);
    if (auto reason = check(path, TFolderRole::kContents))
        return reason;
    while (path != "/") {
        const auto slash = path.find_last_of('/');
        path.resize(slash == 0 ? 1 : slash);
        if (auto reason = check(path, TFolderRole::kParent))
            return reason;
    }
    return std::nullopt;
}

}  // namespace qiv_start::platform
