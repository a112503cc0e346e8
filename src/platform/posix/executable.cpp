#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/process.h"

namespace qiv_start::platform {

std::vector<std::string> command_line_arguments(int argc, char* argv[]) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::string executable_path() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0)
        throw TIoError(std::string("Cannot find the running program: ") + std::strerror(errno));
    path.resize(static_cast<std::size_t>(length));
    return path;
}

std::string executable_suffix() {
    return "";
}

}  // namespace qiv_start::platform
