#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/files.h"

namespace qiv_start::platform {

void set_permissions(const std::string& path, unsigned mode) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::chmod(path.c_str(), static_cast<mode_t>(mode & 0777) & ~mask) != 0) {
        throw TIoError("Cannot change permissions of \"" + path + "\": " + std::strerror(errno));
    }
}

}  // namespace qiv_start::platform
