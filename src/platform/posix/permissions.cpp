#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/error.h"
#include "platform/files.h"

namespace qiv_start::platform {
namespace {

// Asking umask() for the mask sets it for a moment, and a file that another thread creates in
// that moment (a download running ahead) gets no mask at all. Linux shows the mask in the
// process's status; only older kernels need the question.
mode_t creation_mask() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Umask:"))
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

void set_permissions(const std::string& path, unsigned mode) {
    if (::chmod(path.c_str(), static_cast<mode_t>(mode & 0777) & ~creation_mask()) != 0) {
        throw TIoError("Cannot change permissions of \"" + path + "\": " + std::strerror(errno));
    }
}

}  // namespace qiv_start::platform
