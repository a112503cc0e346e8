#include <elf.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qiv_start::platform {
namespace {

// The identification and the machine of an ELF header, the part that says who can run it; empty
// when the file holds no ELF program.
std::string elf_identity(const std::string& path) {
    std::string header(sizeof(Elf64_Ehdr), '\0');
    std::size_t got = 0;
    try {
        TFileReader reader(path);
        while (got < header.size()) {
            const std::size_t n = reader.read(header.data() + got, header.size() - got);
            if (n == 0)
                break;
            got += n;
        }
    } catch (const TError&) {
        return {};
    }
    // e_type and e_machine lie at the same offsets in 32- and 64-bit headers.
    if (got < sizeof(Elf32_Ehdr) || header.compare(0, SELFMAG, ELFMAG) != 0)
        return {};
    Elf32_Half type = 0;
    std::memcpy(&type, header.data() + offsetof(Elf32_Ehdr, e_type), sizeof type);
    if (type != ET_EXEC && type != ET_DYN)
        return {};
    return header.substr(EI_CLASS, EI_VERSION - EI_CLASS + 1) +
           header.substr(offsetof(Elf32_Ehdr, e_machine), sizeof(Elf32_Half));
}

}  // namespace

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

// The machine is read off the running program rather than named here, so that every build
// compares with what it is itself.
bool is_native_program(const std::string& path) {
    const std::string identity = elf_identity(path);
    return !identity.empty() && identity == elf_identity("/proc/self/exe");
}

// start_program_with holds a shared lock on the file for the program it starts; any holder keeps
// an exclusive one from being taken.
bool is_program_running(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    const bool held = result != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

void set_environment(const std::string& name, const std::string& value) {
    if (::setenv(name.c_str(), value.c_str(), 1) != 0)
        throw TError(std::strerror(errno));
}

std::optional<std::string> take_environment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    std::string taken = value;
    ::unsetenv(name.c_str());
    return taken;
}

}  // namespace qiv_start::platform
